#include "platform/data/exception_handler.h"

#include <cstdio>
#include <mutex>

#include "platform/data/database_error.h"

namespace platform::data {
namespace {

std::mutex g_mutex;
ExceptionHandler& Handler() {
  static ExceptionHandler handler;
  return handler;
}

}  // namespace

void SetExceptionHandler(ExceptionHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Handler() = std::move(handler);
}

void HandleException() {
  ExceptionHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handler = Handler();
  }
  try {
    throw;
  } catch (const EAbort&) {
    // silent by definition
  } catch (const std::exception& e) {
    if (handler) {
      handler(e);
    } else {
      std::fprintf(stderr, "%s\n", e.what());
    }
  } catch (...) {
    if (handler) {
      handler(std::runtime_error("Unknown exception"));
    } else {
      std::fprintf(stderr, "Unknown exception\n");
    }
  }
}

}  // namespace platform::data
