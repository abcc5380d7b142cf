// SPDX-License-Identifier: MIT
// The event loop functions of the C API.
#include "servers/common/c_api_support.h"
#include "servers/downloaders/downloaders.h"

extern "C" {

int64_t downloaders_loop_run(void) { return pellora::servers::RunLoop(); }
int64_t downloaders_loop_run_for(int32_t milliseconds) {
  return pellora::servers::RunLoopFor(milliseconds);
}
int64_t downloaders_loop_poll(void) { return pellora::servers::PollLoop(); }
void downloaders_loop_stop(void) { pellora::servers::StopLoop(); }

}  // extern "C"
