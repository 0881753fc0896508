#pragma once

#include <QString>

#include <string_view>

namespace ludex {

// The program keeps its texts as UTF-8; a widget shows them as a QString. Every such text
// crosses over here.
QString Q(std::string_view text);

} // namespace ludex
