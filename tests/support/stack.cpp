#include "tests/support/stack.h"

#include <pthread.h>

#include <exception>
#include <stdexcept>

namespace testing_support {

namespace {

struct Job {
  const std::function<void()>* body;
  std::exception_ptr error;
};

void* Run(void* argument) {
  Job* job = static_cast<Job*>(argument);
  try {
    (*job->body)();
  } catch (...) {
    job->error = std::current_exception();
  }
  return nullptr;
}

}  // namespace

void RunOnStack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, bytes);
  Job job{&body, nullptr};
  pthread_t thread;
  const int rc = pthread_create(&thread, &attributes, Run, &job);
  pthread_attr_destroy(&attributes);
  if (rc != 0) throw std::runtime_error("RunOnStack: pthread_create failed");
  pthread_join(thread, nullptr);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace testing_support
