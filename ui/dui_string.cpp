#include "ui/dui_string.h"

#include <QString>

#include "platform/winapi.h"

namespace brevak {

CDuiString::CDuiString(const QString& text)
    : s_(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size())) {}

QString CDuiString::q() const { return QString::fromUtf16(s_.data(), qsizetype(s_.size())); }

void DUI__Trace(std::u16string_view text) {
  std::u16string line(text);
  line += u"\n";
  OutputDebugStringW(line.c_str());
}

}  // namespace brevak
