#include "window/ReasonTexts.h"

namespace veltrad {

// The system's errors are errno values here.
std::string KoreanSystemError(int systemError) { return KoreanErrno(systemError); }

}  // namespace veltrad
