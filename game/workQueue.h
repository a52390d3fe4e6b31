#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace demo {

// Hands items to one worker thread, which does them in the order given.
// The queue holds at most `capacity` items: Push waits while it is full, so
// a worker that falls behind holds the producer back instead of piling up
// items in memory. The first item whose work fails stops the worker; what
// is still queued is dropped and every later Push returns false at once.
template <class Item>
class WorkQueue {
 public:
  // work(item, error): false with a message when the item failed.
  using Work = std::function<bool(Item&, std::string*)>;

#ifdef __EMSCRIPTEN__
  // A web page's build has no threads: each item is done as it is pushed.
  WorkQueue(std::size_t capacity, Work work) : mCapacity(capacity > 0 ? capacity : 1), mWork(std::move(work)) {}
#else
  WorkQueue(std::size_t capacity, Work work)
      : mCapacity(capacity > 0 ? capacity : 1), mWork(std::move(work)), mThread([this] { Run(); }) {}
#endif
  ~WorkQueue() { Cancel(); }
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // False when the item will not be done: the work failed, or the queue
  // was closed.
  bool Push(Item item) {
#ifdef __EMSCRIPTEN__
    if (mFailed || mClosed) return false;
    std::string error;
    if (!mWork(item, &error)) {
      mFailed = true;
      mError = error.empty() ? "failed" : error;
    }
    return !mFailed;
#else
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [this] { return mQueue.size() < mCapacity || mFailed || mClosed; });
    if (mFailed || mClosed) return false;
    mQueue.push_back(std::move(item));
    mChanged.notify_all();
    return true;
#endif
  }

  // Waits until every item is done and ends the worker; false when one failed.
  bool Finish() {
    Close(false);
    return !Failed();
  }

  // Drops what is queued, waits for the item in hand and ends the worker.
  void Cancel() { Close(true); }

  bool Failed() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mFailed;
  }
  std::string Error() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mError;
  }

 private:
  void Close(bool drop) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mClosed = true;
      if (drop) mQueue.clear();
      mChanged.notify_all();
    }
#ifndef __EMSCRIPTEN__
    if (mThread.joinable()) mThread.join();
#endif
  }

  void Run() {
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mMutex);
        mChanged.wait(lock, [this] { return !mQueue.empty() || mClosed; });
        if (mQueue.empty()) return;
        item = std::move(mQueue.front());
        mQueue.pop_front();
        // Room for the producer while this one is worked on.
        mChanged.notify_all();
      }
      std::string error;
      if (!mWork(item, &error)) {
        std::lock_guard<std::mutex> lock(mMutex);
        mFailed = true;
        mError = error.empty() ? "failed" : error;
        mQueue.clear();
        mChanged.notify_all();
        return;
      }
    }
  }

  const std::size_t mCapacity;
  Work mWork;
  mutable std::mutex mMutex;
  std::condition_variable mChanged;
  std::deque<Item> mQueue;
  bool mFailed = false;
  bool mClosed = false;
  std::string mError;
#ifndef __EMSCRIPTEN__
  std::thread mThread;  // last: starts once everything above exists
#endif
};

}  // namespace demo
