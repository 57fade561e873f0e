#include "kwpanel/kwpanelapp.h"

int KwRunApplication(int, char**) { return 0; }
