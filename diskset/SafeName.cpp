#include "SafeName.h"

#include <string>

namespace {

char16_t upper(char16_t ch) {
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

// True for the names that Windows opens as a device whatever the folder: CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, CONIN$ and CONOUT$, in any case, alone or followed by spaces or an
// extension.
bool isWindowsDeviceName(const char16_t* name) {
    std::u16string base;
    for (const char16_t* p = name; *p != u'\0' && *p != u'.'; ++p) {
        base += upper(*p);
    }
    while (!base.empty() && base.back() == u' ') {
        base.pop_back();
    }
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
        base == u"CONOUT$") {
        return true;
    }
    return base.size() == 4 &&
           (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0) &&
           base[3] >= u'1' && base[3] <= u'9';
}

} // namespace

bool isUnsafeName(const char* name) {
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '/') {
            return true;
        }
    }
    return false;
}

bool isUnsafeWindowsName(const char16_t* name) {
    const std::u16string text = name;
    for (char16_t ch : text) {
        if (ch < 0x20 || std::u16string(u"\\/:<>\"|?*").find(ch) != std::u16string::npos) {
            return true;
        }
    }
    // "." and ".." are no names Windows changes: creating them fails on its own.
    const bool dots = text == u"." || text == u"..";
    if (!text.empty() && !dots && (text.back() == u'.' || text.back() == u' ')) {
        return true;
    }
    return isWindowsDeviceName(name);
}
