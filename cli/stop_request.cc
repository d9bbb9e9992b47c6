#include "cli/stop_request.h"

#include <boost/thread/mutex.hpp>

namespace {

// The flag is set by the handler threads that the system starts for each
// console event and read by any runtime thread; the mutex guards one load or
// store and nothing else.
boost::mutex stop_mutex;
bool stop_flag = false;

}  // namespace

BOOL WINAPI ConsoleCtrlHandler(DWORD control_type) {
  if (control_type > CTRL_BREAK_EVENT)
    return FALSE;
  boost::mutex::scoped_lock lock(stop_mutex);
  stop_flag = true;
  return TRUE;
}

int IsStopRequested() {
  boost::mutex::scoped_lock lock(stop_mutex);
  return stop_flag ? 1 : 0;
}
