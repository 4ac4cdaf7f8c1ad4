#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "Gameboard.h"

/// The game modes, in the order of the mode list.
enum class Mode : int {
    HumanVsHuman = 0,
    HumanVsComputer = 1,
    ComputerVsComputer = 2,
    CalculateDebuts = 3,
};
/// The two modes in which the computer plays both sides by itself.
constexpr bool computerPlaysBoth(Mode m) {
    return m == Mode::ComputerVsComputer || m == Mode::CalculateDebuts;
}

/// What the status bar tells the player. The first three are the loop's own English texts; the
/// window words the others in the player's language.
enum class Status : uint8_t { YourMove, Wait, Auto, GameOver, MemoryLimit, OutOfMemory };

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
    Status status = Status::YourMove;
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
    int64_t hits = 0, ageCollisions = 0, chainMisses = 0, bucketMisses = 0;
};

/// A move for the window to announce: the rating after it, from the mover's side, and the ply
/// count it made. They travel together, so a notice never names the wrong side.
struct Notice {
    int32_t rating = 0;
    int32_t ply = 0;
};

/// The moves made and not yet announced, oldest first: the thread pushes, the window pops. A
/// burst beyond its room keeps the latest moves.
class NoticeQueue {
public:
    static constexpr int Room = 8;

    void push(Notice n) {
        std::lock_guard<std::mutex> hold(lock);
        if (used == Room) {
            first = (first + 1) % Room;
            --used;
        }
        items[(first + used) % Room] = n;
        ++used;
    }
    bool pop(Notice& n) {
        std::lock_guard<std::mutex> hold(lock);
        if (used == 0) {
            return false;
        }
        n = items[first];
        first = (first + 1) % Room;
        --used;
        return true;
    }
    bool empty() const {
        std::lock_guard<std::mutex> hold(lock);
        return used == 0;
    }

private:
    mutable std::mutex lock;
    Notice items[Room];
    int first = 0;
    int used = 0;
};

/// The fields the game window and the thinking thread share. Requests are atomics written
/// whole by one side and cleared by the other; results travel in a snapshot under a lock.
struct Handshake {
    std::atomic<Gameboard*> Engine{nullptr};
    std::atomic<uint8_t> StopRequest{0};
    std::atomic<uint8_t> RewindRequest{0};
    std::atomic<uint8_t> TakeBackRequest{0};
    std::atomic<uint8_t> MoveRequest{0};
    NoticeQueue MoveNotice;
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
    virtual Mode mode() = 0; ///< the entry of ComboBoxMode
    virtual void setMode(Mode mode) = 0;
    virtual int spinValue() = 0;    ///< CSpinEditChilds, in thousands
    virtual bool growChecked() = 0; ///< the hidden "grow" check box
    virtual void invalidate() = 0;  ///< repaint the window and its board
    virtual void showPriorityError() = 0;
};

/// Fills the parts of a snapshot that need no lookup in the node table: the game position and
/// the label texts.
void describePosition(const Gameboard& g, Snapshot& s);
/// Sets the status and its English text.
void setStatus(Snapshot& s, Status status);

/// How much memory the game's node table may take on this machine, and whether it is enough to
/// play at all.
struct GameMemory {
    /// The window, its images and the libraries keep this much beyond the table.
    static constexpr uint64_t WindowHeadroom = uint64_t{160} << 20;
    /// Less room than this for the table leaves no game worth starting: an empty table already
    /// holds its 35 MB head array.
    static constexpr uint64_t SmallestTable = uint64_t{48} << 20;

    uint64_t tableLimit = 0; ///< what the table may hold for growth (its reserve comes on top)
    uint64_t available = 0;  ///< bytes the process may still take
    uint64_t needed = 0;     ///< bytes a game needs at the least
    bool enough = false;
};
/// Half the machine's physical memory, and less where the process's address space is limited
/// (ulimit -v): then what the limit leaves after what the process already maps, the window's
/// headroom and the table's reserve for play.
GameMemory gameMemory();

/// Lowers the calling thread's priority two steps below where it stands, at most to 19
/// (Linux threads carry their own nice value). False when the system refuses.
bool lowerThreadPriority();

/// The thinking loop, one pass at a time; the thread runs pass() until StopRequest.
class ThinkingLoop {
public:
    using Sleeper = std::function<void(int ms)>;
    using Clock = std::function<int64_t()>; ///< monotonic milliseconds

    /// Computer Vs Computer plays no faster than this, so a person can follow the game.
    static constexpr int64_t MovePaceMs = 600;
    /// The sleep of a pass that waits for the pace.
    static constexpr int PaceSleepMs = 20;
    /// Ratings within this either way leave room for 6 million positions below the position.
    static constexpr int BalancedBand = 5700;
    /// The computer-only modes move from an unbalanced position once it holds this many.
    static constexpr uint32_t UnbalancedMoveCount = 20000;

    ThinkingLoop(Handshake& shared, WindowPort& window, Sleeper sleeper = nullptr,
                 Clock clock = nullptr);

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
    /// The last expansion for play was refused even with the table's reserve.
    bool playRoomExhausted = false;

private:
    /// What a pass reads before it serves any request, and the rating it goes on with.
    struct PassState {
        Mode mode; ///< read once per pass; the loop's own switch to Human Vs Computer updates it
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
    bool debutBackUp(const Gameboard& g, const PassState& p);
    bool automaticMove(Gameboard& g, const PassState& p);
    bool requestAutomaticMove(const PassState& p);
    bool growOrIdle(Gameboard& g, const PassState& p);
    bool expandForPlay(Gameboard& g);
    void publish(Gameboard& g);
    void noteMove(const Gameboard& g, int32_t rating);
    Status status(const Gameboard& g) const;
    bool gameOver(const Gameboard& g) const { return isFive(g.topNode()->rating); }
    static bool atMemoryLimit(const Gameboard& g) { return g.nodeTable->limitReached(); }
    /// Whether the computer-only modes may still play here by themselves.
    bool autoPlayable(const Gameboard& g, const PassState& p) const;

    Handshake& h;
    WindowPort& port;
    Sleeper sleep;
    Clock now;
    int64_t lastMoveAt;             ///< when the last move was made on the board
    const Node* noMoveAt = nullptr; ///< a position where the computer found no move
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
