#include "fake_platform/kept_threads.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace clipnote::testing {
namespace {

struct KeptThread {
  std::mutex mutex;
  std::condition_variable given;
  std::function<void()> work;
  std::thread::id id;
};

struct Keeper {
  std::mutex mutex;
  std::vector<KeptThread*> idle;
};

Keeper& TheKeeper() {
  static Keeper* keeper = new Keeper;  // its threads live until the process ends
  return *keeper;
}

void Serve(KeptThread* kept) {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock<std::mutex> lock(kept->mutex);
      kept->given.wait(lock, [kept] { return kept->work != nullptr; });
      work = std::move(kept->work);
      kept->work = nullptr;
    }
    work();
    work = nullptr;
    Keeper& keeper = TheKeeper();
    std::lock_guard<std::mutex> lock(keeper.mutex);
    keeper.idle.push_back(kept);
  }
}

}  // namespace

std::thread::id RunOnKeptThread(std::function<void()> work) {
  Keeper& keeper = TheKeeper();
  KeptThread* kept = nullptr;
  {
    std::lock_guard<std::mutex> lock(keeper.mutex);
    if (!keeper.idle.empty()) {
      kept = keeper.idle.back();
      keeper.idle.pop_back();
    }
  }
  if (kept == nullptr) {
    kept = new KeptThread;
    std::thread thread(Serve, kept);
    kept->id = thread.get_id();
    thread.detach();
  }
  {
    std::lock_guard<std::mutex> lock(kept->mutex);
    kept->work = std::move(work);
  }
  kept->given.notify_one();
  return kept->id;
}

}  // namespace clipnote::testing
