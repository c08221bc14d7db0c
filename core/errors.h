#pragma once

#include <stdexcept>
#include <string>

namespace tlg {

// A failure whose what() is the text the user reads, in the status bar or in the
// application's error box ("Cannot open file /path/TlgFormat.ini").
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tlg
