#include "tuner/search_climb.h"

#include "core/works.h"
#include "platform/log.h"
#include "tuner/autotune.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int STATE_WAIT = TUNE_START_CLIMB;     // waits for the transmitter
constexpr int STATE_RUN = TUNE_START_CLIMB + 1;  // one measurement and one new setting per step
constexpr int VALUE_MAX = 511;
// Measurements the walks may use; the polish and the confirmation after them add a few.
constexpr int WALK_BUDGET = 84;
constexpr int POLISH_BUDGET = 92;
constexpr int RING_SIZE = 8;
// The most a walk of a poor match may use (see walkBudget).
constexpr int POOR_WALK_BUDGET = 150;
constexpr int CONFIRM_COUNT = 3;
// Readings within this share of the best are measured again before the choice.
constexpr float CONFIRM_SHARE = 1.03f;
// A walk ending below this SWR spares the other side its walk.
constexpr float GOOD_MATCH = 1.05f;
// Both walks ending above this SWR: a third walk from the best other seed.
constexpr float POOR_MATCH = 1.5f;
// Stored tunes within this many slots either side of the frequency's slot are starting points.
constexpr int MEMORY_REACH = 200;
constexpr int FIRST_OUTER_STEP = 4;
constexpr int FIRST_LINE_STEP = 8;
constexpr int MIN_LINE_STEP = 4;
constexpr int MAX_STEP = 128;
// Parabola refinements of a bracketed minimum, for the line and for the valley; a valley whose
// best reads above POOR_MATCH gets more: its minimum often lies a few steps from the end of
// the outer bank, where the match is sharp and each step counts.
constexpr int VERTEX_TRIES = 4;
constexpr int POOR_VERTEX_TRIES = 8;
constexpr float NO_READING = 999.0f;
// The bridge's top reading (full reflection).
constexpr float TOP_READING = 99.5f;
// A valley point reading within this share of the centre counts as flat; at most FLAT_LOOKS
// longer steps look past flat stretches in one walk.
constexpr float FLAT_SHARE = 1.01f;
constexpr int FLAT_LOOKS = 2;

struct Setting {
    int side = TUNE_MODE_CL;
    int l = 0;
    int c = 0;
    bool operator==(const Setting&) const = default;
};

struct Reading {
    Setting at;
    float sum = 0;
    int count = 0;
    float mean() const { return sum / static_cast<float>(count); }
};

enum class Phase { Seeds, Walk, Polish, Confirm, Done };

// One of the three-point searches: along the inner bank (a line at a fixed outer value) or
// along the valley (the outer bank, each point the best of its line). It expands its step
// while the direction pays, then fits a parabola through the bracket of the lowest point.
struct Bracket {
    int step = 1;
    int direction = 1;
    bool reversed = false;  // the first direction failed at once: the other one was tried
    bool moved = false;     // a step has paid
    bool closing = false;   // the minimum is bracketed: parabola refinements
    int vertexTries = 0;
};

// The search's memory between steps; the link thread alone runs the steps.
//
// A walk goes along the valley of one network side. Of the two relay banks, one sets the
// resistance the network presents (the capacitor across the load on side B, the series
// inductor on side A) and the other cancels what reactance is left: the walk moves the
// first (the outer bank) and, after each move, finds the best of the second (the inner bank)
// by a line search, starting where the valley's slope so far predicts it.
struct Climb {
    std::vector<Reading> readings;  // every setting measured, with its readings
    std::vector<Setting> batch;     // settings of the present phase still to measure
    Setting sent;
    bool measuring = false;
    Phase phase = Phase::Seeds;
    std::vector<Setting> walks;     // starting points of the walks still to run
    Setting reserve;                // a third starting point (see planWalks)
    bool hasReserve = false;
    std::vector<Setting> valley;    // the valley points (line results) of the present walk
    Setting centre;                 // the best valley point so far
    Bracket outer;
    int flatLooks = 0;              // longer outer steps taken past a flat stretch
    double slope = 0;               // inner values per outer value along the valley
    Setting line;                   // the best point of the present line so far
    Bracket inner;
    Setting polished;               // the centre of the polish
    int polishReach = 1;            // relay steps from the centre to its ring
};
Climb climb;

bool inRange(const Setting& s)
{
    return s.l >= 0 && s.l <= VALUE_MAX && s.c >= 0 && s.c <= VALUE_MAX;
}

const Reading* readingOf(const Setting& s)
{
    for (const Reading& r : climb.readings)
        if (r.at == s)
            return &r;
    return nullptr;
}

float meanOf(const Setting& s)
{
    const Reading* r = readingOf(s);
    return r ? r->mean() : NO_READING;
}

void record(const Setting& s, float swr)
{
    for (Reading& r : climb.readings) {
        if (r.at == s) {
            r.sum += swr;
            r.count += 1;
            return;
        }
    }
    climb.readings.push_back({s, swr, 1});
}

// Adds a setting to the batch (once, and only within the relay range); true when added.
bool ask(const Setting& s)
{
    if (!inRange(s) || std::find(climb.batch.begin(), climb.batch.end(), s) != climb.batch.end())
        return false;
    climb.batch.push_back(s);
    return true;
}

void apply(Works* works, const Setting& s)
{
    works->induttanza = s.l;
    works->capacita = s.c;
    SetI(works, s.l);
    SetC(works, s.c);
    works->tuneval = tunewordWithMode(works->tuneval, s.side);
}

int sideOf(uint32_t word)
{
    const int mode = DecodeModoFromTuneval(word);
    return mode == TUNE_MODE_CL || mode == TUNE_MODE_LC ? mode : 0;
}

const char* sideText(int side)
{
    return side == TUNE_MODE_LC ? " A " : " B ";
}

// The bank that sets the resistance: the capacitor on side B, the inductor on side A.
int outerAxis(int side)
{
    return side == TUNE_MODE_CL ? 1 : 0;
}

int& valueOf(Setting& s, int axis)
{
    return axis == 0 ? s.l : s.c;
}

int valueOf(const Setting& s, int axis)
{
    return axis == 0 ? s.l : s.c;
}

// |reflection coefficient| squared of an SWR: smooth (parabolic) about a minimum, where the
// SWR itself has a kink.
double reflected(float swr)
{
    const double g = (swr - 1.0) / (swr + 1.0);
    return g * g;
}

// The abscissa of the lowest point of the parabola through three points, x1 < x2 < x3 with
// y2 the lowest; the middle point when they are in a line.
double vertexOf(double x1, double y1, double x2, double y2, double x3, double y3)
{
    const double a = (x2 - x1) * (y2 - y3);
    const double b = (x2 - x3) * (y2 - y1);
    const double d = a - b;
    if (std::fabs(d) < 1e-12)
        return x2;
    const double x = x2 - 0.5 * ((x2 - x1) * a - (x2 - x3) * b) / d;
    return std::clamp(x, x1, x3);
}

// A stored tune of another frequency, scaled to this one: the reactance a relay gives grows
// with frequency, so the same match needs about f'/f of each value.
Setting scaledTune(const TuneMemEntry& e, int slot, uint32_t hz)
{
    const double ratio = static_cast<double>(AtuFreqfromIdx(slot)) / static_cast<double>(hz);
    const auto scale = [ratio](int v) { return std::clamp(static_cast<int>(std::lround(v * ratio)), 0, VALUE_MAX); };
    return {e.modo == TUNE_MODE_LC ? TUNE_MODE_LC : TUNE_MODE_CL, scale(e.induttanza), scale(e.capacita)};
}

// The nearest stored tune below and above the slot within MEMORY_REACH, on this antenna.
void askStoredNeighbours(Works* works)
{
    const int slot = AtuIdxSearch(works->frequency, nullptr, nullptr, nullptr, nullptr);
    const TuneMemEntry* memory = tuneMemoryOf(works, works->antenna);
    for (int direction : {-1, +1}) {
        for (int d = direction < 0 ? 0 : 1; d <= MEMORY_REACH; ++d) {
            const int at = slot + direction * d;
            if (at < 0 || at >= TUNE_SLOTS)
                break;
            if (memory[at].present == 1 && memory[at].modo != TUNE_MODE_BYPASS) {
                ask(scaledTune(memory[at], at, works->frequency));
                break;
            }
        }
    }
}

// Coarse probes of both sides: three values of each relay bank, spread over their range and
// moved down as the frequency rises (a match needs about 1/f of each value).
void askCoarseProbes(uint32_t hz)
{
    const double scale = 7.0e6 / static_cast<double>(hz);
    const int base[3] = {10, 40, 160};
    int v[3];
    for (int i = 0; i < 3; ++i)
        v[i] = std::clamp(static_cast<int>(std::lround(base[i] * scale)), 0, VALUE_MAX);
    for (int side : {TUNE_MODE_CL, TUNE_MODE_LC})
        for (int l : v)
            for (int c : v)
                ask({side, l, c});
}

// The points nearest to `at` on either side along `axis` among `points`, which share the
// other coordinates' role (a line, or the valley).
struct Neighbours {
    const Setting* below = nullptr;
    const Setting* above = nullptr;
};

Neighbours neighboursOf(const Setting& at, int axis, const std::vector<Setting>& points)
{
    Neighbours n;
    const int x = valueOf(at, axis);
    for (const Setting& p : points) {
        const int v = valueOf(p, axis);
        if (v < x && (!n.below || v > valueOf(*n.below, axis)))
            n.below = &p;
        if (v > x && (!n.above || v < valueOf(*n.above, axis)))
            n.above = &p;
    }
    return n;
}

// The measured points of the present line: its side and outer value, any inner value.
std::vector<Setting> linePoints()
{
    std::vector<Setting> points;
    const int axis = outerAxis(climb.line.side);
    for (const Reading& r : climb.readings)
        if (r.at.side == climb.line.side && valueOf(r.at, axis) == valueOf(climb.line, axis))
            points.push_back(r.at);
    return points;
}

bool explored(const Setting& at, int axis, const std::vector<Setting>& points)
{
    return std::any_of(points.begin(), points.end(),
                       [&](const Setting& p) { return valueOf(p, axis) == valueOf(at, axis); });
}

// One bracket step: the next point to try from `best` along `axis`, or false when the
// search along it is over. `points` are the points the search has explored.
bool nextBracketPoint(Bracket& b, const Setting& best, int axis, const std::vector<Setting>& points, Setting& next,
                      bool poor = false)
{
    if (!b.closing) {
        // A step past the end of the range stops at the end.
        const auto stepFrom = [&](const Setting& from) {
            Setting to = from;
            valueOf(to, axis) = std::clamp(valueOf(from, axis) + b.direction * b.step, 0, VALUE_MAX);
            return to;
        };
        next = stepFrom(best);
        if (!explored(next, axis, points))
            return true;
        if (!b.moved && !b.reversed) {
            b.reversed = true;
            b.direction = -b.direction;
            next = stepFrom(best);
            if (!explored(next, axis, points))
                return true;
        }
        b.closing = true;
    }
    // The lowest point with a measured neighbour on each side: the parabola's vertex.
    const Neighbours n = neighboursOf(best, axis, points);
    if ((!n.below && !n.above) || b.vertexTries >= (poor ? POOR_VERTEX_TRIES : VERTEX_TRIES))
        return false;
    b.vertexTries += 1;
    if (!n.below || !n.above) {
        // The lowest point lies at the end of the range: halfway to its one neighbour.
        const int gap = valueOf(n.below ? *n.below : *n.above, axis) - valueOf(best, axis);
        next = best;
        valueOf(next, axis) += gap / 2;
        return std::abs(gap) > 1 && !explored(next, axis, points);
    }
    const double x = vertexOf(valueOf(*n.below, axis), reflected(meanOf(*n.below)), valueOf(best, axis),
                              reflected(meanOf(best)), valueOf(*n.above, axis), reflected(meanOf(*n.above)));
    next = best;
    valueOf(next, axis) = static_cast<int>(std::lround(x));
    if (explored(next, axis, points)) {
        // The vertex is explored already: the point beside the best towards it, if that is
        // not; for a poor match also the one on the other side.
        const int towards = x > valueOf(best, axis) ? 1 : -1;
        for (int side : {towards, poor ? -towards : towards}) {
            next = best;
            valueOf(next, axis) += side;
            if (inRange(next) && !explored(next, axis, points))
                return true;
        }
        return false;
    }
    return true;
}

// A pay-off of the present bracket step: the step doubles in the same direction.
void paid(Bracket& b)
{
    b.moved = true;
    if (!b.closing)
        b.step = std::min(b.step * 2, MAX_STEP);
}

// The first step of a line at an inner value: a quarter of it, at least MIN_LINE_STEP. The
// reading changes little over a few relay steps far from the line's low point, less than the
// bridge's noise at one step; a larger first step sees the slope.
int lineStepAt(int value)
{
    return std::max(MIN_LINE_STEP, value / 4);
}

void startLine(const Setting& from, int step)
{
    climb.line = from;
    climb.inner = Bracket{};
    climb.inner.step = std::clamp(step, 1, MAX_STEP);
    climb.batch.clear();
    if (readingOf(from) == nullptr)
        ask(from);
}

void startWalk(const Setting& from)
{
    climb.phase = Phase::Walk;
    climb.valley.clear();
    climb.outer = Bracket{};
    climb.outer.step = FIRST_OUTER_STEP;
    climb.flatLooks = 0;
    climb.slope = 0;
    startLine(from, std::max(FIRST_LINE_STEP, lineStepAt(valueOf(from, 1 - outerAxis(from.side)))));
    logErr("CLIMB walk %s from L %d C %d\n", sideText(from.side), from.l, from.c);
}

// After the seeds: a walk from the best of each side, the better side first.
void planWalks()
{
    Setting best[2];
    float swr[2] = {NO_READING, NO_READING};
    for (const Reading& r : climb.readings) {
        const int i = r.at.side == TUNE_MODE_LC ? 1 : 0;
        if (r.mean() < swr[i]) {
            swr[i] = r.mean();
            best[i] = r.at;
        }
    }
    climb.walks.clear();
    for (int i : {0, 1})
        if (swr[i] < NO_READING)
            climb.walks.push_back(best[i]);
    if (climb.walks.size() == 2 && swr[1] < swr[0])
        std::swap(climb.walks[0], climb.walks[1]);
    // In reserve: the best seed away from those two, for a load both walks leave poorly matched.
    const Reading* other = nullptr;
    for (const Reading& r : climb.readings)
        if (std::find(climb.walks.begin(), climb.walks.end(), r.at) == climb.walks.end() &&
            (!other || r.mean() < other->mean()))
            other = &r;
    if (other && other->mean() < NO_READING)
        climb.reserve = other->at;
    climb.hasReserve = other && other->mean() < NO_READING;
}

const Reading* bestOverall()
{
    const Reading* best = nullptr;
    for (const Reading& r : climb.readings)
        if (!best || r.mean() < best->mean())
            best = &r;
    return best;
}

void startConfirm()
{
    climb.phase = Phase::Confirm;
    climb.batch.clear();
    std::vector<const Reading*> close;
    const float limit = bestOverall()->mean() * CONFIRM_SHARE;
    for (const Reading& r : climb.readings)
        if (r.mean() <= limit)
            close.push_back(&r);
    std::sort(close.begin(), close.end(), [](const Reading* a, const Reading* b) { return a->mean() < b->mean(); });
    if (close.size() < 2)
        return;  // a clear winner needs no second look
    for (size_t i = 0; i < close.size() && i < CONFIRM_COUNT; ++i)
        climb.batch.push_back(close[i]->at);
}

// The ring of neighbours reach relay steps from the best so far, on both banks and
// diagonally (kept inside the banks' range). Near the best, one step changes the reading
// about as much as the bridge's noise does, so a ring of single steps can stall beside a
// lower point that a ring of two steps sees.
void startPolish(int reach)
{
    climb.phase = Phase::Polish;
    climb.batch.clear();
    climb.polished = bestOverall()->at;
    climb.polishReach = reach;
    const Setting p = climb.polished;
    for (int dl = -1; dl <= 1; ++dl)
        for (int dc = -1; dc <= 1; ++dc) {
            const Setting s{p.side, std::clamp(p.l + dl * reach, 0, VALUE_MAX), std::clamp(p.c + dc * reach, 0, VALUE_MAX)};
            if (s != p && !readingOf(s))
                ask(s);
        }
}

void nextWalkOrPolish()
{
    climb.walks.erase(climb.walks.begin());
    if (climb.walks.empty() && climb.hasReserve && bestOverall()->mean() > POOR_MATCH) {
        climb.walks.push_back(climb.reserve);
        climb.hasReserve = false;
    }
    if (!climb.walks.empty() && bestOverall()->mean() > GOOD_MATCH && cnttune < WALK_BUDGET)
        startWalk(climb.walks.front());
    else
        startPolish(1);
}

// The valley's next point: the outer bank moved from the centre (or to the parabola's vertex),
// the inner bank where the slope so far puts it. False when the walk is over.
bool nextValleyPoint()
{
    const int axis = outerAxis(climb.centre.side);
    Setting next;
    if (!nextBracketPoint(climb.outer, climb.centre, axis, climb.valley, next, meanOf(climb.centre) > POOR_MATCH))
        return false;
    const int du = valueOf(next, axis) - valueOf(climb.centre, axis);
    const int predicted = static_cast<int>(std::lround(climb.slope * du));
    valueOf(next, 1 - axis) = std::clamp(valueOf(climb.centre, 1 - axis) + predicted, 0, VALUE_MAX);
    startLine(next, std::max(std::abs(predicted) / 4, lineStepAt(valueOf(next, 1 - axis))));
    return true;
}

// The end of a line: its best point is a valley point.
bool valleyPoint()
{
    const int axis = outerAxis(climb.line.side);
    climb.valley.push_back(climb.line);
    if (climb.valley.size() == 1) {
        climb.centre = climb.line;
    } else if (meanOf(climb.line) < meanOf(climb.centre)) {
        const int du = valueOf(climb.line, axis) - valueOf(climb.centre, axis);
        if (du != 0)
            climb.slope = static_cast<double>(valueOf(climb.line, 1 - axis) - valueOf(climb.centre, 1 - axis)) / du;
        climb.centre = climb.line;
        paid(climb.outer);
    } else if (!climb.outer.closing && climb.flatLooks < FLAT_LOOKS &&
               meanOf(climb.line) <= meanOf(climb.centre) * FLAT_SHARE) {
        // About the same as the centre: the valley may be flat here (about a peak of the
        // network's resistance); a longer step in the same direction looks past it.
        climb.flatLooks += 1;
        climb.outer.step = std::min(climb.outer.step * 4, MAX_STEP);
    }
    return nextValleyPoint();
}

// The walk once its last setting is measured: the line goes on, or ends in a valley point.
void walkStep()
{
    const int axis = 1 - outerAxis(climb.line.side);
    const std::vector<Setting> points = linePoints();
    // The lowest point of the line so far.
    for (const Setting& p : points) {
        if (meanOf(p) < meanOf(climb.line)) {
            climb.line = p;
            paid(climb.inner);
        }
    }
    // A line reading the bridge's top everywhere so far shows no slope to follow: it strides
    // on from its newest point in the same direction, the step doubling, until it reads less.
    const bool blind = std::all_of(points.begin(), points.end(), [](const Setting& p) { return meanOf(p) >= TOP_READING; });
    if (blind && !climb.inner.closing && std::find(points.begin(), points.end(), climb.sent) != points.end()) {
        climb.line = climb.sent;
        paid(climb.inner);
    }
    Setting next;
    if (nextBracketPoint(climb.inner, climb.line, axis, points, next)) {
        ask(next);
        return;
    }
    if (!valleyPoint())
        nextWalkOrPolish();
}

// A walk of a poor match still going down its valley (its present line already reads below
// the best valley point) may go on past WALK_BUDGET: such a walk often nears the minimum at
// the end of the outer bank when the budget runs out. A good match never gets the extra.
int walkBudget()
{
    const bool descending = !climb.valley.empty() && meanOf(climb.line) < meanOf(climb.centre);
    return descending && bestOverall()->mean() > POOR_MATCH ? POOR_WALK_BUDGET : WALK_BUDGET;
}

// Moves the search on until it has a setting to measure; false when it is over.
bool advance()
{
    for (;;) {
        if (!climb.batch.empty()) {
            climb.sent = climb.batch.front();
            climb.batch.erase(climb.batch.begin());
            if (climb.phase == Phase::Confirm || !readingOf(climb.sent))
                return true;
            continue;
        }
        switch (climb.phase) {
        case Phase::Seeds:
            planWalks();
            if (climb.walks.empty())
                return false;
            startWalk(climb.walks.front());
            break;
        case Phase::Walk:
            if (cnttune >= walkBudget())
                startPolish(1);
            else
                walkStep();
            break;
        case Phase::Polish: {
            // Moved to a better neighbour: look around it too, while the budget lasts; a
            // ring that found nothing lower is followed by one twice as wide, once.
            const Setting best = bestOverall()->at;
            if (best != climb.polished && cnttune < POLISH_BUDGET)
                startPolish(1);
            else if (climb.polishReach == 1 && cnttune + RING_SIZE <= POLISH_BUDGET)
                startPolish(2);
            else
                startConfirm();
            if (climb.phase == Phase::Confirm && climb.batch.empty()) {
                climb.phase = Phase::Done;
                return false;
            }
            break;
        }
        case Phase::Confirm:
        case Phase::Done:
            climb.phase = Phase::Done;
            return false;
        }
    }
}

// The setting with the lowest mean reading becomes the best record, and the tune ends there.
void finish(Works* works)
{
    const Reading* best = bestOverall();
    if (best && best->mean() < NO_READING) {
        const Setting s = best->at;
        apply(works, s);
        miglioretuneParam = {best->mean(), works->pwrFwd, s.l, s.c, works->tuneval};
        logErr("CLIMB best L %d C %d %s SWR %05.2f (%d readings) after %d measurements\n", s.l, s.c,
               sideText(s.side), static_cast<double>(best->mean()), best->count, cnttune);
    }
    TuneEnd(works);
    endAutotune(works, 1);
}

void sendNext(Works* works)
{
    if (advance()) {
        apply(works, climb.sent);
        climb.measuring = true;
    } else {
        finish(works);
    }
}

} // namespace

void climbSearch(Works* works)
{
    switch (works->tuneStep) {
    case STATE_WAIT:
        if (works->txOn != 1)
            break;
        Clr_vTuneParam(works);
        climb = Climb{};
        cnttune = 0;
        works->tuneStep = STATE_RUN;
        // The present setting (a recalled tune, or the last result) is the first seed.
        if (const int side = sideOf(works->tuneval))
            ask({side, DecodeInduttanzaFromTuneval(works->tuneval), DecodeCapacitaFromTuneval(works->tuneval)});
        askStoredNeighbours(works);
        askCoarseProbes(works->frequency);
        sendNext(works);
        break;
    case STATE_RUN:
        if (climb.measuring) {
            if (TuneStep(works) == 1)
                return;
            // A reading without RF (SWR 0) tells nothing about the setting.
            record(climb.sent, tuneParam.swr > 0.01f ? tuneParam.swr : NO_READING);
        }
        sendNext(works);
        break;
    default:
        break;
    }
}
