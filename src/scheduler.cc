#include "src/scheduler.h"

#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

#include "include/velt/test.h"
#include "src/filter.h"
#include "src/helpers/concurrency.h"
#include "src/helpers/shuffle.h"
#include "src/runner.h"

namespace velt {
namespace {

using Entry = std::pair<TestId, TestDescAndFn>;

struct FilteredTests {
  std::vector<Entry> tests;
  std::vector<Entry> benches;
  TestId next_id = 0;

  void add_test(TestDescAndFn t) { tests.emplace_back(next_id++, std::move(t)); }
  void add_bench(TestDescAndFn t) { benches.emplace_back(next_id++, std::move(t)); }
  std::size_t total_len() const { return tests.size() + benches.size(); }
};

struct RunningTest {
  std::optional<platform::Thread> join_handle;

  // A worker that panicked after reporting success has not passed after all.
  void join(CompletedTest& completed) {
    if (!join_handle) return;
    bool panicked = join_handle->join();
    if (panicked && std::holds_alternative<Ok>(completed.result)) {
      completed.result = FailedWithMessage{"panicked after reporting success"};
    }
  }
};

struct TimeoutEntry {
  TestId id;
  TestDesc desc;
  Instant deadline;
};

bool stops_run(const TestOpts& opts, const TestResult& result) {
  return opts.fail_fast && (std::holds_alternative<Failed>(result) ||
                            std::holds_alternative<FailedWithMessage>(result) ||
                            std::holds_alternative<TimeLimitExceeded>(result));
}

}  // namespace

IoResult<void> run_tests(const TestOpts& opts, TestList tests,
                         const EventHandler& notify_about_test_event) {
  const std::size_t tests_len = tests.tests.size();

  std::vector<TestDescAndFn> selected = filter_tests(opts, std::move(tests));
  if (!opts.run_benchmarks) selected = convert_benchmarks_to_tests(std::move(selected));

  FilteredTests filtered;
  for (TestDescAndFn& t : selected) {
    t.desc.name = t.desc.name.with_padding(t.testfn.padding());
    if (t.testfn.is_bench()) {
      filtered.add_bench(std::move(t));
    } else {
      filtered.add_test(std::move(t));
    }
  }
  selected.clear();

  VELT_TRY(notify_about_test_event(event::FilteredOut{tests_len - filtered.total_len()}));
  std::optional<std::uint64_t> shuffle_seed = get_shuffle_seed(opts);
  VELT_TRY(notify_about_test_event(event::Filtered{filtered.total_len(), shuffle_seed}));

  const std::size_t concurrency = opts.test_threads ? *opts.test_threads : get_concurrency();

  if (shuffle_seed) shuffle_tests(*shuffle_seed, filtered.tests);
  std::deque<Entry> remaining(std::make_move_iterator(filtered.tests.begin()),
                              std::make_move_iterator(filtered.tests.end()));
  filtered.tests.clear();

  // Every started test holds its own sender; the receiving end stays with the scheduler.
  auto channel = std::make_shared<platform::Channel<CompletedTest>>();
  const RunMode run_mode = opts.options.panic_abort && !opts.force_run_in_process
                               ? RunMode::SpawnChild
                               : RunMode::InProcess;
  const bool force_ignore = !opts.run_tests;

  if (concurrency == 1) {
    while (!remaining.empty()) {
      auto [id, test] = std::move(remaining.front());
      remaining.pop_front();
      VELT_TRY(notify_about_test_event(event::Started{test.desc}));
      RunningTest running{run_test(opts, force_ignore, id, std::move(test), run_mode, channel)};
      CompletedTest completed = channel->recv();
      running.join(completed);
      bool stop = stops_run(opts, completed.result);
      VELT_TRY(notify_about_test_event(event::Result{std::move(completed)}));
      if (stop) return {};
    }
  } else {
    std::unordered_map<TestId, RunningTest> running;
    std::deque<TimeoutEntry> timeout_queue;
    std::size_t pending = 0;

    while (pending > 0 || !remaining.empty()) {
      while (pending < concurrency && !remaining.empty()) {
        auto [id, test] = std::move(remaining.front());
        remaining.pop_front();
        Instant deadline = get_default_test_timeout();
        TestDesc desc = test.desc;
        VELT_TRY(notify_about_test_event(event::Started{desc}));
        running.emplace(
            id, RunningTest{run_test(opts, force_ignore, id, std::move(test), run_mode, channel)});
        timeout_queue.push_back(TimeoutEntry{id, std::move(desc), deadline});
        ++pending;
      }

      std::optional<CompletedTest> completed;
      while (!completed) {
        if (timeout_queue.empty()) {
          completed = channel->recv();
          break;
        }
        Instant now = Clock::now();
        auto wait = timeout_queue.front().deadline > now ? timeout_queue.front().deadline - now
                                                         : Clock::duration::zero();
        completed = channel->recv_timeout(wait);

        // Collect the tests whose warning period has passed, whatever ended the wait.
        now = Clock::now();
        std::vector<TestDesc> timed_out;
        while (!timeout_queue.empty() && timeout_queue.front().deadline <= now) {
          TimeoutEntry entry = std::move(timeout_queue.front());
          timeout_queue.pop_front();
          if (running.contains(entry.id)) timed_out.push_back(std::move(entry.desc));
        }
        for (TestDesc& desc : timed_out) {
          VELT_TRY(notify_about_test_event(event::Timeout{std::move(desc)}));
        }
      }

      auto it = running.find(completed->id);
      if (it == running.end()) test::panic("completion for a test that is not running");
      RunningTest test = std::move(it->second);
      running.erase(it);
      test.join(*completed);
      bool stop = stops_run(opts, completed->result);
      VELT_TRY(notify_about_test_event(event::Result{std::move(*completed)}));
      --pending;
      if (stop) return {};
    }
  }

  if (opts.run_benchmarks) {
    for (auto& [id, bench] : filtered.benches) {
      VELT_TRY(notify_about_test_event(event::Started{bench.desc}));
      RunningTest running{run_test(opts, false, id, std::move(bench), run_mode, channel)};
      CompletedTest completed = channel->recv();
      running.join(completed);
      VELT_TRY(notify_about_test_event(event::Result{std::move(completed)}));
    }
  }
  return {};
}

}  // namespace velt
