#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "Gameboard.h"

/// Everything the window draws, published whole by the thinking thread. The window copies it
/// under the lock and never reads the engine while the search runs.
struct Snapshot {
    bool engineReady = false;
    int32_t ShownPly = 0;
    uint8_t RatingMap[CellCount] = {};
    char ChildsText[200] = {};
    char RatingText[200] = {};
    char LengthText[200] = {};
    char LogText[200] = {};
    char AveragesText[200] = {};
    char StatusText[200] = {};
    int16_t ShownRating = 0;
    // The game position as the engine holds it, for drawing stones, hints and the pointer.
    uint8_t plyMoves[CellCount] = {};
    uint8_t plyStones[CellCount] = {};
    bool representative[CellCount] = {};
    uint8_t topAge = 0;
    uint8_t orientation = 0; ///< the display orientation that goes with these plies
    // For the tree inspection window.
    uint32_t rootCount = 0;
    int32_t maxPlyReached = 0;
};

/// The fields the game window and the thinking thread share. Requests are atomics written
/// whole by one side and cleared by the other; results travel in a snapshot under a lock.
struct Handshake {
    std::atomic<Gameboard*> Engine{nullptr};
    std::atomic<uint8_t> StopRequest{0};
    std::atomic<uint8_t> RewindRequest{0};
    std::atomic<uint8_t> TakeBackRequest{0};
    std::atomic<uint8_t> MoveRequest{0};
    std::atomic<int32_t> MoveNotice{0};
    std::atomic<int32_t> NoticePly{0}; ///< the ply count right after the noticed move
    /// The pending click: an engine cell, tagged by the window with the ply count of the
    /// position the player saw (tagClick); 255 = none. Both travel in one word.
    std::atomic<int32_t> ClickedCell{NoCell};
    Orientation orientation{0}; ///< FlipColumns, FlipRows, Transposed: turned by the engine

    /// A click on a position the game has since left (a double click, a move on its way) is
    /// dropped rather than played on a board the player has not seen. Untagged: always played.
    static int32_t tagClick(int cell, int shownPly) { return cell | shownPly << 8; }
    static int clickCell(int32_t click) { return click & 0xFF; }
    static int clickPly(int32_t click) { return click >> 8; }

    Snapshot snapshot() const {
        std::lock_guard<std::mutex> hold(publishLock);
        return published;
    }
    void publish(const Snapshot& s) {
        std::lock_guard<std::mutex> hold(publishLock);
        published = s;
    }

    /// Sets StopRequest and wakes the thread from any sleep.
    void requestStop() {
        {
            std::lock_guard<std::mutex> hold(sleepLock);
            StopRequest.store(1);
        }
        wake.notify_all();
    }
    /// Sleeps up to ms milliseconds; returns at once when a stop is requested.
    void sleepFor(int ms) {
        std::unique_lock<std::mutex> hold(sleepLock);
        wake.wait_for(hold, std::chrono::milliseconds(ms),
                      [this] { return StopRequest.load() != 0; });
    }

private:
    mutable std::mutex publishLock;
    Snapshot published;
    std::mutex sleepLock;
    std::condition_variable wake;
};

/// What the loop reads from and does to the window. The window mirrors its controls into
/// thread-safe fields and marshals the calls to its own thread.
class WindowPort {
public:
    virtual ~WindowPort() = default;
    virtual int mode() = 0; ///< index of ComboBoxMode
    virtual void setMode(int mode) = 0;
    virtual int spinValue() = 0;    ///< CSpinEditChilds, in thousands
    virtual bool growChecked() = 0; ///< the hidden "grow" check box
    virtual void invalidate() = 0;  ///< repaint the window and its board
    virtual void showPriorityError() = 0;
};

/// Fills the parts of a snapshot that need no lookup in the node table.
void captureGamePosition(const Gameboard& g, Snapshot& s);

/// Lowers the calling thread's priority two steps below where it stands, at most to 19
/// (Linux threads carry their own nice value). False when the system refuses.
bool lowerThreadPriority();

/// The thinking loop, one pass at a time; the thread runs pass() until StopRequest.
class ThinkingLoop {
public:
    using Sleeper = std::function<void(int ms)>;

    ThinkingLoop(Handshake& shared, WindowPort& window, Sleeper sleeper = nullptr);

    void run();
    void pass();

    static uint32_t moveThreshold(int spin, int32_t autoCountdown, uint32_t lastMoveCount);
    static double treeSizeFactor(uint32_t rootCount);
    static int64_t rawBudget(int rating, double w, int spin);
    static void formatCount(char* out, std::size_t size, uint32_t rootCount, uint32_t topCount);

    int32_t AutoCountdown = 0;
    uint32_t LastMoveCount = 0;
    int32_t PassCounter = 0;
    bool grewThisPass = false;

private:
    /// What a pass reads before it serves any request, and the rating it goes on with.
    struct PassState {
        int mode;  ///< read once per pass; the loop's own switch to mode 1 updates it
        int spin;  ///< the node budget, in thousands
        bool grow; ///< the "grow" check box
        int z;     ///< rating of the position on the board, re-read after a move
        bool balanced;
        uint32_t rootCount;
        uint32_t threshold; ///< the computer's move waits for this many positions
        int64_t budget;     ///< growth stops here
    };

    PassState takeSnapshot(const Gameboard& g);
    void serveRequest(Gameboard& g, PassState& p);
    void serveComputerMove(Gameboard& g, PassState& p);
    void serveTakeBack(Gameboard& g, PassState& p);
    bool debutBackUp(const PassState& p);
    bool automaticMove(const Gameboard& g, const PassState& p);
    bool growOrIdle(Gameboard& g, const PassState& p);
    void publish(Gameboard& g);
    bool gameOver(const Gameboard& g) const { return g.topNode()->rating >= 32600; }
    static bool atMemoryLimit(const Gameboard& g) { return g.nodeTable->limitReached(); }

    Handshake& h;
    WindowPort& port;
    Sleeper sleep;
};

/// Runs the loop on a thread of its own at below-normal priority.
class ThinkingThread {
public:
    ThinkingThread(Handshake& shared, WindowPort& window) : h(shared), loop(shared, window) {}
    ~ThinkingThread() { stopAndJoin(); }
    ThinkingThread(const ThinkingThread&) = delete;
    ThinkingThread& operator=(const ThinkingThread&) = delete;

    void start();
    void stopAndJoin();
    bool running() const { return worker.joinable(); }

private:
    Handshake& h;
    ThinkingLoop loop;
    std::thread worker;
};
