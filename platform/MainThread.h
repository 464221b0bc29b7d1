#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

namespace platform
{

// Hands work to the main thread and waits until it has run there.
//
// The one owner of what a run of hand-overs does to processors: whether the two
// threads are held on one for the run (beginHandOvers decides), how they are held
// and freed, and how a thread started during the run gets out of the hold.
class MainThread
{
  public:
    // Work of this many bytes or more between two hand-overs is large: its hand-overs
    // come too seldom for holding the threads to pay, and the archive's file writer
    // writes a file this large on a thread of its own (its buffer is this size).
    static constexpr std::int64_t kLargeWorkBytes = std::int64_t{1} << 20;

    virtual ~MainThread() = default;
    virtual void runAndWait(const std::function<void()> &work) = 0;

    // Brackets a run of `handOvers` hand-overs from the calling thread with `bytes`
    // of work among them. Where the work between two of them is small on average,
    // they come fast enough for their round trip to matter, and the calling thread
    // and the main thread may be held on one processor, where waking the other costs
    // least. endHandOvers() gives both back the processors they had, so call it
    // before the main thread starts anything that would inherit the hold. Both are
    // safe to call more than once.
    void beginHandOvers(std::int64_t bytes, std::int64_t handOvers)
    {
        if (bytes < kLargeWorkBytes * std::max<std::int64_t>(handOvers, 1))
            holdOneProcessor();
    }
    virtual void endHandOvers() {}

    // Called first by a thread that the calling thread starts inside the bracket for
    // large work of its own (the file writer's): it would inherit the hold, and
    // takes the processors the program started with instead, so that its work runs
    // beside the two held threads and not between them.
    static void leaveHeldProcessor();

  protected:
    // Holds the calling thread and the main thread on one processor until
    // endHandOvers(), where the machine allows it.
    virtual void holdOneProcessor() {}
};

} // namespace platform
