// A planted Qt include the rooms check must find.
#include <QWidget>
