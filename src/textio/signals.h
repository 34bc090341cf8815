// Signals whose default action would end the program for what is only a failed file.
#pragma once

#include "base/portable.h"

#ifdef PARVELLO_OS_UNIX
#include <csignal>

namespace parvello {

// Ignores `number` unless the program handles it (or ignores it) already.
inline void IgnoreSignalUnlessHandled(int number) {
    struct sigaction current {};
    if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(number, SIG_IGN);
}

} // namespace parvello
#endif // Windows: no signal ends the program for a failed write or a lease; none to ignore
