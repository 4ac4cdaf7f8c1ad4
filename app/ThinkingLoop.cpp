#include "ThinkingLoop.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char* const StatusAuto = "Please either switch playing mode or just wait..";
const char* const StatusWait = "Please wait..";
const char* const StatusYourMove =
    "Please make your move. Or, you can give it to me, by pressing Move button.";
// Texts the window words in the player's language; these are the English ones.
const char* const StatusGameOver = "Game over. Press Restart for a new game, or Take Back.";
const char* const StatusMemoryLimit =
    "Memory limit reached: the computer has stopped thinking ahead. The game goes on.";
const char* const StatusOutOfMemory =
    "Out of memory: the computer cannot think here. Take Back or Restart to go on.";

void scaled(uint32_t count, uint32_t& value, char& unit) {
    if (count > 2000000u) {
        value = count / 1000000u;
        unit = 'M';
    } else if (count > 2000u) {
        value = count / 1000u;
        unit = 'K';
    } else {
        value = count;
        unit = ' ';
    }
}

} // namespace

void setStatus(Snapshot& s, Status status) {
    static const char* const texts[] = {StatusYourMove, StatusWait,        StatusAuto,
                                        StatusGameOver, StatusMemoryLimit, StatusOutOfMemory};
    s.status = status;
    std::snprintf(s.StatusText, sizeof s.StatusText, "%s", texts[static_cast<std::size_t>(status)]);
}

void describePosition(const Gameboard& g, Snapshot& s) {
    s.engineReady = true;
    s.ShownPly = g.plyCount;
    for (int i = 0; i < g.plyCount; ++i) {
        const uint8_t cell = g.plyAt(i).move;
        s.plyMoves[i] = cell;
        s.plyStones[i] = g.board[cell];
    }
    for (int c = 0; c < CellCount; ++c) {
        s.representative[c] = g.isRepresentative(static_cast<CellIndex>(c));
    }
    s.topAge = g.topNode()->age;
    s.orientation = g.orientation->load();
    s.rootCount = g.rootNode()->count;
    s.maxPlyReached = g.maxPlyReached;
    const Node* root = g.rootNode();
    const Node* top = g.topNode();
    ThinkingLoop::formatCount(s.ChildsText, sizeof s.ChildsText, root->count, top->count);
    std::snprintf(s.RatingText, sizeof s.RatingText, "Rating: %d / %d", root->rating, top->rating);
    std::snprintf(s.LengthText, sizeof s.LengthText, "Max path length: %d", g.maxPlyReached);
    if (g.logger != nullptr) {
        g.logger->logLine(s.LogText, sizeof s.LogText);
        s.hits = g.logger->hits;
        s.ageCollisions = g.logger->ageCollisions;
        s.chainMisses = g.logger->chainMisses;
        s.bucketMisses = g.logger->bucketMisses;
    }
    s.ShownRating = static_cast<int16_t>(g.plyCount % 2 != 0 ? top->rating : -top->rating);
}

ThinkingLoop::ThinkingLoop(Handshake& shared, WindowPort& window, Sleeper sleeper, Clock clock)
    : h(shared), port(window), sleep(std::move(sleeper)), now(std::move(clock)),
      lastMoveAt(INT64_MIN / 2) {
    if (!sleep) {
        sleep = [this](int ms) { h.sleepFor(ms); };
    }
    if (!now) {
        now = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
}

uint32_t ThinkingLoop::moveThreshold(int spin, int32_t autoCountdown, uint32_t lastMoveCount) {
    // In the computer-only modes a tree already past the budget must grow another 50000 first.
    const uint32_t v = static_cast<uint32_t>(spin) * 1000u;
    if (autoCountdown != 0 && lastMoveCount != 0 && v <= lastMoveCount && lastMoveCount < 2 * v) {
        return lastMoveCount + 50000u;
    }
    return v;
}

double ThinkingLoop::treeSizeFactor(uint32_t t) {
    if (t <= 16000000u) {
        return 1.0;
    }
    if (t > 32000000u) {
        return 6.0;
    }
    const double w = 6.0 * std::floor(static_cast<double>(t - 16000000u) / 1000.0) / 16000.0;
    return w < 1.0 ? 1.0 : w;
}

int64_t ThinkingLoop::rawBudget(int z, double w, int spin) {
    double e;
    if (z > -BalancedBand && z < BalancedBand) {
        e = 6000000.0 / w;
    } else if (z > -rating::Clear && z < rating::Clear) {
        e = 1000000.0 / w;
    } else {
        e = static_cast<double>(spin) * 1000.0 + 1.0;
    }
    return static_cast<int64_t>(e);
}

void ThinkingLoop::formatCount(char* out, std::size_t size, uint32_t rootCount, uint32_t topCount) {
    uint32_t a = 0, b = 0;
    char ua = ' ', ub = ' ';
    scaled(rootCount, a, ua);
    scaled(topCount, b, ub);
    std::snprintf(out, size, "Childs count: %d%c / %d%c", static_cast<int>(a), ua,
                  static_cast<int>(b), ub);
}

namespace {

// Bytes of address space the process maps now.
uint64_t mappedBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) {
        return 0;
    }
    unsigned long long pages = 0;
    const int read = std::fscanf(f, "%llu", &pages);
    std::fclose(f);
    return read == 1 ? pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace

GameMemory gameMemory() {
    GameMemory m;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const uint64_t physical = pages > 0 && pageSize > 0
                                  ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                                  : uint64_t{2} << 30;
    m.tableLimit = physical / 2;
    m.available = physical;
    rlimit space{};
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
        const uint64_t cap = space.rlim_cur;
        const uint64_t used = mappedBytes();
        m.available = cap > used ? cap - used : 0;
    }
    m.needed = GameMemory::WindowHeadroom + NodeTable::PlayReserve + GameMemory::SmallestTable;
    m.enough = m.available >= m.needed;
    const uint64_t room =
        m.enough ? m.available - GameMemory::WindowHeadroom - NodeTable::PlayReserve : 0;
    m.tableLimit = room < m.tableLimit ? room : m.tableLimit;
    return m;
}

bool lowerThreadPriority() {
    const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0; // -1 is also a valid priority: only errno tells a failure
    const int current = getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) {
        return false;
    }
    const int lowered = current + 2 < 19 ? current + 2 : 19;
    return setpriority(PRIO_PROCESS, tid, lowered) == 0;
}

void ThinkingLoop::run() {
    if (!lowerThreadPriority()) {
        port.showPriorityError();
    }
    while (h.StopRequest.load() == 0) {
        pass();
    }
}

void ThinkingLoop::pass() {
    grewThisPass = false;
    Gameboard* g = h.Engine.load();
    if (g == nullptr) {
        sleep(100);
        return;
    }
    PassState p = takeSnapshot(*g);
    serveRequest(*g, p);
    if (debutBackUp(*g, p) || automaticMove(*g, p)) {
        return;
    }
    if (growOrIdle(*g, p)) {
        publish(*g);
    }
}

// Steps 2 to 4: the countdown of the computer-only modes, what the pass sees before serving a
// request, and the budgets that follow from it.
ThinkingLoop::PassState ThinkingLoop::takeSnapshot(const Gameboard& g) {
    PassState p{};
    p.mode = port.mode();
    p.spin = port.spinValue();
    p.grow = port.growChecked();
    if (!computerPlaysBoth(p.mode)) {
        AutoCountdown = 0;
    } else if (AutoCountdown == 0) {
        AutoCountdown = 1000;
    }
    p.z = g.topNode()->rating;
    const int seenByFirst = (g.plyCount % 2 != 0) ? p.z : -p.z;
    p.balanced = std::abs(seenByFirst - g.rootNode()->rating) < 500;
    p.rootCount = g.rootNode()->count;
    p.threshold = moveThreshold(p.spin, AutoCountdown, LastMoveCount);
    p.budget = rawBudget(p.z, treeSizeFactor(p.rootCount), p.spin);
    if (p.budget < p.threshold) {
        p.budget = p.threshold;
    }
    return p;
}

void ThinkingLoop::noteMove(const Gameboard& g, int32_t rating) {
    h.MoveNotice.push({rating, g.plyCount});
    lastMoveAt = now();
}

// Step 5: at most one request, in the order restart, click, computer move, take-back. Each is
// taken with one exchange, so a request set meanwhile is never lost.
void ThinkingLoop::serveRequest(Gameboard& g, PassState& p) {
    if (h.RewindRequest.exchange(0) != 0) {
        g.rewindToRoot();
        return;
    }
    const int32_t click = h.ClickedCell.exchange(NoCell);
    if (click != NoCell) {
        const int cell = Handshake::clickCell(click);
        const int seen = Handshake::clickPly(click);
        if (click >= 0 && cell < CellCount && (seen == 0 || seen == g.plyCount) &&
            g.playClicked(static_cast<CellIndex>(cell))) {
            const int rating = g.topNode()->rating;
            noteMove(g, rating);
            // A click that made five ends the game: nothing to answer.
            if (p.mode == Mode::HumanVsComputer && !isFive(rating)) {
                h.MoveRequest.store(1);
            }
        }
        return;
    }
    if (h.MoveRequest.load() != 0) {
        const Node* top = g.topNode();
        const bool waits = AutoCountdown == 0 && !atMemoryLimit(g) && top->count < p.threshold &&
                           !isNearlyDecided(top->rating) && top->candidateCount != 1;
        if (gameOver(g)) {
            h.MoveRequest.store(0); // the game is over: no move, no notice
            return;
        }
        if (!waits) {
            serveComputerMove(g, p);
            return;
        }
    }
    serveTakeBack(g, p);
}

void ThinkingLoop::serveComputerMove(Gameboard& g, PassState& p) {
    if (h.MoveRequest.exchange(0) == 0) {
        return;
    }
    const int plies = g.plyCount;
    int32_t notice;
    {
        const ReserveForPlay room(*g.nodeTable); // it may have to expand the position first
        notice = g.computerMove();
    }
    // Nothing played (no room left to find a move, or no move at all): the computer-only modes
    // must not ask again and again here.
    noMoveAt = nullptr;
    if (g.plyCount == plies) {
        const Node* top = g.topNode();
        noMoveAt = top;
        playRoomExhausted = atMemoryLimit(g) && top->candidateCount == 0 && !isDecided(top->rating);
    }
    noteMove(g, notice);
    LastMoveCount = g.topNode()->count;
    p.z = g.topNode()->rating;
}

void ThinkingLoop::serveTakeBack(Gameboard& g, PassState& p) {
    if (h.TakeBackRequest.exchange(0) == 0) {
        return;
    }
    // The player takes back the move the computer was about to answer: no answer now, or the
    // computer would play the player's side.
    if (p.mode == Mode::HumanVsComputer) {
        h.MoveRequest.store(0);
    }
    if (AutoCountdown > 0) {
        if (p.rootCount > 40000000u) {
            AutoCountdown = 0;
        } else {
            --AutoCountdown;
        }
        if (AutoCountdown == 0 && p.mode == Mode::ComputerVsComputer) {
            h.RewindRequest.store(1);
            port.setMode(Mode::HumanVsComputer);
            p.mode = Mode::HumanVsComputer;
        }
    }
    if (g.plyCount > 1) {
        g.undoMove();
    }
    p.z = g.topNode()->rating;
}

// The computer-only modes play by themselves until the game is over, the computer has found
// no move here, or (for "Calculate debuts", which only fills the tree) the table is full.
bool ThinkingLoop::autoPlayable(const Gameboard& g, const PassState& p) const {
    return AutoCountdown != 0 && !gameOver(g) && g.topNode() != noMoveAt &&
           !(p.mode == Mode::CalculateDebuts && atMemoryLimit(g));
}

// Step 6: "Calculate debuts" leaves positions that are no longer balanced.
bool ThinkingLoop::debutBackUp(const Gameboard& g, const PassState& p) {
    if (p.mode != Mode::CalculateDebuts || AutoCountdown <= 0 || p.balanced || atMemoryLimit(g)) {
        return false;
    }
    if (PassCounter % 5 == 0 || PassCounter % 7 == 0) {
        h.RewindRequest.store(1);
    } else {
        h.TakeBackRequest.store(1);
    }
    ++PassCounter;
    return true;
}

// Computer Vs Computer waits for its pace before asking for the move, growing nothing
// meanwhile, so every move stays the one it would be at full speed. False: keep waiting.
bool ThinkingLoop::requestAutomaticMove(const PassState& p) {
    if (p.mode == Mode::ComputerVsComputer && now() - lastMoveAt < MovePaceMs) {
        sleep(PaceSleepMs);
        return false;
    }
    h.MoveRequest.store(1);
    return true;
}

// Step 7: the computer-only modes move once the position holds enough positions. Returns
// whether the pass ends here.
bool ThinkingLoop::automaticMove(Gameboard& g, const PassState& p) {
    if (!computerPlaysBoth(p.mode) || !autoPlayable(g, p)) {
        return false;
    }
    const uint32_t k = p.balanced ? static_cast<uint32_t>(p.spin) * 1000u : UnbalancedMoveCount;
    if (g.topNode()->count < k) {
        return false;
    }
    if (!requestAutomaticMove(p)) {
        publish(g);
    }
    return true;
}

// Play needs its position expanded even once growth has used up the table: the reserve.
bool ThinkingLoop::expandForPlay(Gameboard& g) {
    const ReserveForPlay room(*g.nodeTable);
    playRoomExhausted = !g.expand();
    return !playRoomExhausted;
}

// Steps 8 to 10: one growth step while the position's budget allows, else the computer-only
// modes move or back up, else sleep. Returns whether the pass publishes.
bool ThinkingLoop::growOrIdle(Gameboard& g, const PassState& p) {
    const uint32_t here = g.topNode()->count;
    const bool full = atMemoryLimit(g);
    if (static_cast<int64_t>(here) < p.budget && isEnterable(p.z) && p.grow && !full) {
        g.growStep();
        grewThisPass = true;
        ++PassCounter;
        return PassCounter % 100 == 0;
    }
    // Past the limit the player's clicks still need the position's children.
    if (full && g.topNode()->candidateCount == 0 && isEnterable(p.z)) {
        expandForPlay(g);
    }
    if (p.grow && autoPlayable(g, p)) {
        if (p.balanced || p.mode == Mode::ComputerVsComputer) {
            return !requestAutomaticMove(p);
        }
        h.TakeBackRequest.store(1);
        return false;
    }
    sleep(300);
    return true;
}

void ThinkingLoop::publish(Gameboard& g) {
    Snapshot s;
    g.listChildren();
    int lowest = 1000000000;
    int highest = 0;
    for (int i = 0; i < g.childCount; ++i) {
        const int r = g.childNodes[i]->rating;
        lowest = r < lowest ? r : lowest;
        highest = r > highest ? r : highest;
    }
    for (int i = 0; i < g.childCount; ++i) {
        const int r = g.childNodes[i]->rating;
        s.RatingMap[g.childCells[i]] =
            static_cast<uint8_t>((r - lowest + 1) * 225 / (highest - lowest + 1) + 30);
    }
    describePosition(g, s);
    setStatus(s, status(g));
    h.publish(s);
    port.invalidate();
}

Status ThinkingLoop::status(const Gameboard& g) const {
    if (gameOver(g)) {
        return Status::GameOver;
    }
    if (playRoomExhausted && g.topNode()->candidateCount == 0) {
        return Status::OutOfMemory;
    }
    if (atMemoryLimit(g)) {
        return Status::MemoryLimit;
    }
    if (AutoCountdown != 0) {
        return Status::Auto;
    }
    if (h.RewindRequest.load() != 0 || h.MoveRequest.load() != 0 || h.TakeBackRequest.load() != 0 ||
        h.ClickedCell.load() != NoCell) {
        return Status::Wait;
    }
    return Status::YourMove;
}

void ThinkingThread::start() {
    if (!worker.joinable()) {
        worker = std::thread([this] { loop.run(); });
    }
}

void ThinkingThread::stopAndJoin() {
    h.requestStop();
    if (worker.joinable()) {
        worker.join();
    }
}
