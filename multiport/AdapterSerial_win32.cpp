#include "multiport/AdapterSerial.h"

namespace veltrad {

// The port's adapter is not looked up on Windows yet; the log says "-".
std::string AdapterSerialNumber(const std::string&, const std::filesystem::path&) { return {}; }

}  // namespace veltrad
