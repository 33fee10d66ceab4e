#include "src/runner.h"

#include <cerrno>
#include <memory>
#include <mutex>

#include "include/velt/test.h"
#include "src/bench.h"
#include "src/helpers/overloaded.h"
#include "src/platform/capture.h"
#include "src/platform/panic.h"
#include "src/platform/process.h"

namespace velt {
namespace {

struct WorkItem {
  RunMode mode;
  TestId id;
  TestDesc desc;
  bool nocapture;
  std::optional<TestTimeOptions> time_opts;
  RunnableTest runnable;
  platform::Sender<CompletedTest> tx;
  bool run_benchmarks;
};

// Filled by whichever side runs the item: the worker, or the spawning thread when no worker
// could be started.
struct Slot {
  std::mutex mutex;
  std::optional<WorkItem> item;

  std::optional<WorkItem> take() {
    std::lock_guard lock(mutex);
    std::optional<WorkItem> taken = std::move(item);
    item.reset();
    return taken;
  }
};

// Runs the body and folds what it did into success (none) or a failure payload. A panic is
// reported here, as it unwinds out of the body.
std::optional<platform::PanicPayload> run_catching(const TestDesc& desc, RunnableTest runnable) {
  try {
    Outcome outcome = std::move(runnable).run();
    if (outcome.ok()) return std::nullopt;
    // An error text is classified exactly like a panic with that message.
    return platform::PanicPayload{platform::PanicPayload::OwnedText, std::move(outcome.error()),
                                  "std::string"};
  } catch (...) {
    platform::PanicPayload payload = platform::current_payload();
    platform::Location where{std::string(desc.source_path), static_cast<unsigned>(desc.start_line),
                             static_cast<unsigned>(desc.start_col)};
    platform::report_caught(payload, desc.source_path.empty() ? nullptr : &where);
    // When a failure ends the process, the report just written (after the captured output)
    // is the last word; going on would leave the streams locked by the report for good.
    if (platform::panic_aborts()) std::abort();
    return payload;
  }
}

void run_test_in_process(TestId id, TestDesc desc, bool nocapture,
                         const std::optional<TestTimeOptions>& time_opts, RunnableTest runnable,
                         const platform::Sender<CompletedTest>& tx) {
  auto buffer = std::make_shared<platform::CaptureBuffer>();
  if (!nocapture) platform::set_output_capture(buffer);

  std::optional<Instant> start;
  if (time_opts) start = Clock::now();

  std::optional<platform::PanicPayload> failure = run_catching(desc, std::move(runnable));

  std::optional<TestExecTime> exec_time;
  if (start) exec_time = TestExecTime{Clock::now() - *start};
  platform::set_output_capture(nullptr);

  TestResult result = calc_result(desc, failure ? &*failure : nullptr, time_opts, exec_time);
  failure.reset();
  tx->send(CompletedTest{id, std::move(desc), std::move(result), exec_time, buffer->contents()});
}

void spawn_test_subprocess(TestId id, TestDesc desc, bool nocapture,
                           const std::optional<TestTimeOptions>& time_opts, bool run_benchmarks,
                           const platform::Sender<CompletedTest>& tx) {
  const std::string_view name = desc.name.as_slice();
  const std::optional<std::string_view> path = platform::invoked_path();
  if (!path) {
    tx->send(CompletedTest{id, std::move(desc), Failed{}, std::nullopt,
                           "Failed to spawn a child for test: this process was started without "
                           "an argument list, so its program path is unknown and the test cannot "
                           "run in a child process"});
    return;
  }
  // The child is this very executable, started under the name we were started with.
  platform::ChildCommand command;
  command.program = platform::SELF_EXE;
  command.arg0 = *path;
  // Both variables are ours to give: one inherited from whoever started us must not reach
  // the child.
  command.env_remove = {INVOKE_VAR, BENCHMARKS_VAR};
  command.env_set.emplace_back(INVOKE_VAR, name);
  if (run_benchmarks) command.env_set.emplace_back(BENCHMARKS_VAR, "1");
  command.inherit_output = nocapture;

  std::optional<Instant> start;
  if (time_opts) start = Clock::now();
  IoResult<platform::ChildOutput> child = platform::run_child(command);
  if (!child) {
    tx->send(CompletedTest{
        id, std::move(desc), Failed{}, std::nullopt,
        "Failed to spawn " + std::string(*path) + " as child for test: " + child.error().debug()});
    return;
  }
  std::optional<TestExecTime> exec_time;
  if (start) exec_time = TestExecTime{Clock::now() - *start};

  std::string output = std::move(child->out);
  if (!output.empty() && output.back() != '\n') output += '\n';
  output += "---- ";
  output += name;
  output += " stderr ----\n";
  output += child->err;

  const platform::ChildStatus status = child->status;
  TestResult result = get_result_from_exit_code(desc, ExitStatus{status.signaled, status.code},
                                                time_opts, exec_time);
  tx->send(CompletedTest{id, std::move(desc), std::move(result), exec_time, std::move(output)});
}

void run_item(WorkItem item) {
  if (item.mode == RunMode::InProcess) {
    run_test_in_process(item.id, std::move(item.desc), item.nocapture, item.time_opts,
                        std::move(item.runnable), item.tx);
  } else {
    spawn_test_subprocess(item.id, std::move(item.desc), item.nocapture, item.time_opts,
                          item.run_benchmarks, item.tx);
  }
}

}  // namespace

TestResult run_test_here(const TestDesc& desc, RunnableTest runnable) {
  std::optional<platform::PanicPayload> failure = run_catching(desc, std::move(runnable));
  return calc_result(desc, failure ? &*failure : nullptr, std::nullopt, std::nullopt);
}

std::optional<platform::Thread> run_test(const TestOpts& opts, bool force_ignore, TestId id,
                                         TestDescAndFn test, RunMode mode,
                                         platform::Sender<CompletedTest> tx) {
  if (force_ignore || test.desc.ignore) {
    tx->send(CompletedTest{id, std::move(test.desc), Ignored{}, std::nullopt, std::string()});
    return std::nullopt;
  }

  Runnable runnable = std::move(test.testfn).into_runnable();
  if (auto* bench = std::get_if<RunnableBench>(&runnable)) {
    benchmark(id, std::move(test.desc), std::move(tx), opts.nocapture, std::move(*bench));
    return std::nullopt;
  }
  RunnableTest& body = std::get<RunnableTest>(runnable);
  if (body.is_dynamic() && mode == RunMode::SpawnChild) {
    test::panic("Cannot run dynamic test fn out-of-process");
  }

  std::string name(test.desc.name.as_slice());
  auto slot = std::make_shared<Slot>();
  slot->item.emplace(WorkItem{mode, id, std::move(test.desc), opts.nocapture, opts.time_options,
                              std::move(body), std::move(tx), opts.run_benchmarks});
  Result<platform::Thread, int> thread = platform::Thread::spawn(std::move(name), [slot] {
    if (std::optional<WorkItem> item = slot->take()) run_item(std::move(*item));
  });
  if (thread.ok()) return std::move(thread).value();
  if (thread.error() == EAGAIN) {
    // The thread limit is reached: run the test right here, one at a time.
    if (std::optional<WorkItem> item = slot->take()) run_item(std::move(*item));
    return std::nullopt;
  }
  test::panic("failed to spawn thread to run test: " + io_error_from_code(thread.error()).debug());
}

}  // namespace velt
