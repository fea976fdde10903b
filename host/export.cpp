#include "host/host.h"

// No exception may reach the host: it would end the host process.
extern "C" BRELK_API int32_t KelMain(DriverRequest* request) {
  try {
    return brelk::Dispatch(brelk::platform::System(), request);
  } catch (...) {
    return BRELK_COMM_FAILURE;
  }
}
