#include "language/kwlangextra.h"

const KwLangRow kKwLangExtraEnglish[kKwLangExtraRows] = {
    {"diskfull", "The disk is full. Free some space and try again."},
    {"OK", "OK"},
    {"CANCEL", "Cancel"},
    {"save", "Save"},
    {"saveas", "Save as"},
};

const KwLangRow kKwLangExtraChinese[kKwLangExtraRows] = {
    {"diskfull",
     "\xE7\xA3\x81\xE7\x9B\x98\xE7\xA9\xBA\xE9\x97\xB4\xE5\xB7\xB2\xE6\xBB\xA1\xEF\xBC\x8C"
     "\xE8\xAF\xB7\xE6\xB8\x85\xE7\x90\x86\xE5\x90\x8E\xE9\x87\x8D\xE8\xAF\x95\xE3\x80\x82"},
    {"OK", "\xE7\xA1\xAE\xE5\xAE\x9A"},
    {"CANCEL", "\xE5\x8F\x96\xE6\xB6\x88"},
    {"save", "\xE4\xBF\x9D\xE5\xAD\x98"},
    {"saveas", "\xE5\x8F\xA6\xE5\xAD\x98\xE4\xB8\xBA"},
};
