#include "zem/service.h"

namespace dravelin::zem {

runtime::RuntimeError to_runtime_error(const ZemError& error) {
  if (error.kind == ZemError::Kind::Unavailable) {
    return runtime::make_runtime_error(runtime::RuntimeErrorCode::ZemUnavailable, error.message, true);
  }
  return runtime::make_runtime_error(runtime::RuntimeErrorCode::ZemRejected, error.message, false);
}

}  // namespace dravelin::zem
