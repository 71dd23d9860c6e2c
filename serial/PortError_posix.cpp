#include "serial/PortError.h"

#include <cstring>

namespace veltrad {

std::string SystemErrorText(int systemError) { return std::strerror(systemError); }

}  // namespace veltrad
