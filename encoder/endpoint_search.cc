// The endpoint searches: the pair search of the 8-byte records (and of the
// 12-byte alpha layout for blocks with transparent pixels) and the triple
// search of the 12-byte records.
//
// Both searches are defined as exhaustive scans over the colour list: every
// candidate is scored with the block error (the single-precision sum, in list
// order, of each listed colour's distance to its nearest palette entry, the
// distance being sqrt in double of the integer squared distance, rounded to
// float), and the first candidate in scan order with the smallest error wins.
// This file computes exactly that result with far less work. Why each
// shortcut cannot change it:
//
// - Values, not entries. A candidate's palette depends only on the RGB565
//   values of its colours, so its error does too. Each distinct value
//   combination is scored once, and the combinations that reach the smallest
//   error are kept; the first candidate of the scan made of one of them is
//   then found from where each value first occurs in the list.
// - One of (E, F) and (F, E). Swapping the first two colours permutes the
//   palette entries (0/1, 2/3 and, for eight entries, 6/7; the mean of three
//   is symmetric), and the nearest distance to a set does not depend on its
//   order, so both orders have the same error, bit for bit.
// - One rounded distance per listed colour. float(sqrt(double(x))) is
//   non-decreasing in x, so the smallest of the rounded distances is the
//   rounded distance of the smallest integer squared distance (looked up in
//   a table of float(sqrt(double(x))) for every squared distance x there
//   can be). The distances from the candidate colours
//   themselves to each listed colour are integers computed once per block;
//   the pair's entries are shared by all its third colours.
// - Palettes that repeat a colour. third(a, a) is a, so the pair (a, a) has
//   four entries equal to a and each term is the distance to a. A third
//   value g equal to a adds a single entry the pair's palette lacks: the
//   mean of a, b, a is third(a, b) and the half of a and a is a, so only the
//   half of b and a is new (g = b likewise). Such candidates take the
//   minimum over the entries that can differ only: the same terms.
// - Screening a candidate before scoring it. Its terms are first added in
//   another order, the listed colours least likely to be covered first (those
//   farthest from the block's mean; one order for all the block's candidates),
//   and a colour that several list entries hold once, its term times their
//   number (a float product, within a factor 1 +- u of the exact one, u =
//   2^-24). For any order, a float sum of up to sixteen non-negative terms is
//   within a factor 1 +- g of their exact sum R, g = 15 * 2^-24 / (1 - 15 *
//   2^-24) (the bound on recursive summation), and so is each partial sum,
//   which never exceeds R either. The block error, the float sum in list
//   order, is therefore at least R (1 - g), and a candidate whose partial
//   screening sum exceeds the best complete error times (1 + g) (1 + u) /
//   (1 - g) has a larger error than the best: it can be neither the smallest
//   nor equal to it, and it is dropped. SCREEN_MARGIN exceeds that factor by
//   enough to cover the rounding of its own product. A candidate whose error
//   equals the smallest is never dropped, and the replay sees every one of
//   them. Which candidate is scored first only changes how soon the bound is
//   tight, never the result; a promising one goes first. Blocks of few
//   colours (drawings, sprites, flat screen areas) are screened over those
//   colours alone, which is most of their work.
// - A candidate that passes the screen is scored as defined: its terms summed
//   in float for every listed colour in list order, starting from zero, so
//   its error is the same float the exhaustive scan computes.
#include "block_encoding.h"

#include <math.h>

#include "colour_math.h"

namespace {

// Above (1 + g) (1 + u) / (1 - g) for g = 15 * 2^-24 / (1 - 15 * 2^-24) and
// u = 2^-24, about 1 + 1.85e-6, also after rounding the product with it to
// float.
const float SCREEN_MARGIN = 1.000004f;

// The best error before a block's first candidate: above any block error
// (16 * sqrt(3 * 255^2) is about 7067), so the first candidate always wins.
const float NO_ERROR_YET = 100000.0f;

// The listed colours as distinct RGB565 values, with the integer squared
// distance from every value (unpacked) to every distinct listed colour. The
// distinct colours are held by screening position, farthest from the
// block's mean first, so that the screens read them in address order, each
// with the number of list entries that hold it; the complete error reads
// them in list order through position_of. Value channels are held as ints
// and each colour's channels packed into one int, so the scoring loops read
// them without widening.
struct SearchColours {
  int list_count;         // list entries
  int count;              // distinct colours, the positions
  int value_count;
  int rgb[16];            // [position] r | g << 8 | b << 16
  float weight[16];       // [position] list entries with this colour
  int position_of[16];    // list entry -> position
  int value_of[16];       // list entry -> distinct value
  uint16_t value[16];
  int value_rgb[16][3];   // unpacked
  int first[16];          // first list entry with this value
  int second[16];         // second list entry with this value, or -1
  int distance[16][16];   // [value][position], squared
};

SearchColours colours;

// RGB565 value -> its index in colours.value plus one, 0 for a value not in
// the block; only the block's own values are set, and they are cleared again
// before the next block.
uint8_t value_slot[1 << 16];

// For the triple search: [a][g][position], the smaller squared distance from
// the entry to value g and to the half mix of values a and g.
int near_half[16][16][16];

// The value combinations (first two values ascending) scored with the
// smallest error so far, packed as a | b << 4 | g << 8 (g = 0 for pairs).
struct BestCandidates {
  int count;
  uint16_t packed[16 * 16 * 16];
};

BestCandidates winners;

// Keeps the candidate when it ties the best error, or makes it the only one
// when it beats it; a negative error is a dropped candidate. Returns the
// best error.
float note_score(float error, int a, int b, int g, float best) {
  if (error < 0.0f || error > best) return best;
  if (error < best) winners.count = 0;
  winners.packed[winners.count++] = (uint16_t)(a | b << 4 | g << 8);
  return error;
}

// The rounded distance float(sqrt(double(x))) of a squared distance x, from
// a table of every squared distance there can be, filled on first use. In the
// module too: a load there is cheaper than a conversion and a square root,
// whose latency the scoring loops would wait for at every term.
enum { MAX_SQUARED_DISTANCE = 3 * 255 * 255 };
float rounded_root[MAX_SQUARED_DISTANCE + 1];
bool roots_ready;

void prepare_roots() {
  if (roots_ready) return;
  for (int x = 0; x <= MAX_SQUARED_DISTANCE; x++) rounded_root[x] = (float)sqrt((double)x);
  roots_ready = true;
}

inline float rounded_distance(int x) { return rounded_root[x]; }

inline int min2(int a, int b) { return a < b ? a : b; }

inline int squared_to_packed(int c, int r, int g, int b) {
  int dr = r - (c & 255), dg = g - (c >> 8 & 255), db = b - (c >> 16);
  return dr * dr + dg * dg + db * db;
}

// Fills order[0..n) with 0..n-1 sorted by descending key (each key below
// 2^27), sorting on the key and the index packed into one int.
void order_by_descending(const int* key, int n, int* order) {
  for (int k = 0; k < n; k++) {
    int packed = key[k] << 4 | k;
    int j = k;
    while (j > 0 && order[j - 1] < packed) {
      order[j] = order[j - 1];
      j--;
    }
    order[j] = packed;
  }
  for (int k = 0; k < n; k++) order[k] &= 15;
}

void prepare_colours(const uint8_t* colour_list, int list_count) {
  prepare_roots();
  SearchColours& s = colours;
  s.list_count = list_count;
  int value_count = 0;
  int count = 0;
  // distinct colours: equal colours have equal values, so each is looked
  // for among the colours of its value alone (newest first, chained by
  // `older`)
  int packed[16], repeats[16], colour_of[16], older[16], newest_of_value[16];
  int sum_r = 0, sum_g = 0, sum_b = 0;
  for (int k = 0; k < list_count; k++) {
    const uint8_t* c = colour_list + 3 * k;
    int r = c[0], g = c[1], b = c[2];
    sum_r += r;
    sum_g += g;
    sum_b += b;
    uint16_t v = pack_rgb565(r, g, b);
    int id = value_slot[v] - 1;
    if (id < 0) {
      id = value_count++;
      value_slot[v] = (uint8_t)value_count;
      uint8_t unpacked[3];
      unpack_rgb565(v, unpacked);
      s.value[id] = v;
      s.value_rgb[id][0] = unpacked[0];
      s.value_rgb[id][1] = unpacked[1];
      s.value_rgb[id][2] = unpacked[2];
      s.first[id] = k;
      s.second[id] = -1;
      newest_of_value[id] = -1;
    } else if (s.second[id] < 0) {
      s.second[id] = k;
    }
    s.value_of[k] = id;
    int rgb = r | g << 8 | b << 16;
    int same = newest_of_value[id];
    while (same >= 0 && packed[same] != rgb) same = older[same];
    if (same < 0) {
      same = count++;
      packed[same] = rgb;
      repeats[same] = 0;
      older[same] = newest_of_value[id];
      newest_of_value[id] = same;
    }
    repeats[same]++;
    colour_of[k] = same;
  }
  s.value_count = value_count;
  for (int v = 0; v < value_count; v++) value_slot[s.value[v]] = 0;

  // the colours far from the mean are the ones a poor candidate misses
  int spread[16], order[16], position[16];
  int mean_r = sum_r / list_count, mean_g = sum_g / list_count, mean_b = sum_b / list_count;
  for (int k = 0; k < count; k++) spread[k] = squared_to_packed(packed[k], mean_r, mean_g, mean_b);
  order_by_descending(spread, count, order);
  s.count = count;
  for (int p = 0; p < count; p++) {
    s.rgb[p] = packed[order[p]];
    s.weight[p] = (float)repeats[order[p]];
    position[order[p]] = p;
  }
  for (int k = 0; k < list_count; k++) s.position_of[k] = position[colour_of[k]];

  // two values at a time, each entry read once for both (the last of an odd
  // count with itself); channels in locals: the stores below would
  // otherwise reload them
  for (int v = 0; v < value_count; v += 2) {
    int w = v + 1 < value_count ? v + 1 : v;
    int r = s.value_rgb[v][0], g = s.value_rgb[v][1], b = s.value_rgb[v][2];
    int r2 = s.value_rgb[w][0], g2 = s.value_rgb[w][1], b2 = s.value_rgb[w][2];
    int* row = s.distance[v];
    int* row2 = s.distance[w];
    for (int p = 0; p < count; p++) {
      int c = s.rgb[p];
      row[p] = squared_to_packed(c, r, g, b);
      row2[p] = squared_to_packed(c, r2, g2, b2);
    }
  }
}

void prepare_near_halves() {
  int n = colours.count;
  for (int a = 0; a < colours.value_count; a++) {
    const int* pa = colours.value_rgb[a];
    for (int g = a; g < colours.value_count; g++) {
      const int* pg = colours.value_rgb[g];
      int hr = half(pa[0], pg[0]), hg = half(pa[1], pg[1]), hb = half(pa[2], pg[2]);
      const int* to_a = colours.distance[a];
      const int* to_g = colours.distance[g];
      int* near_ag = near_half[a][g];
      int* near_ga = near_half[g][a];
      for (int p = 0; p < n; p++) {
        int to_half = squared_to_packed(colours.rgb[p], hr, hg, hb);
        near_ag[p] = min2(to_g[p], to_half);
        near_ga[p] = min2(to_a[p], to_half);
      }
    }
  }
}

// The two values farthest apart: their candidate usually spans the block and
// gives a tight bound early.
void farthest_values(int* a, int* b) {
  int best_a = 0, best_b = 0;
  int widest = -1;
  for (int i = 0; i < colours.value_count; i++) {
    const int* p = colours.value_rgb[i];
    int pr = p[0], pg = p[1], pb = p[2];
    for (int j = i + 1; j < colours.value_count; j++) {
      const int* q = colours.value_rgb[j];
      int dr = pr - q[0], dg = pg - q[1], db = pb - q[2];
      int d = dr * dr + dg * dg + db * db;
      if (d > widest) {
        widest = d;
        best_a = i;
        best_b = j;
      }
    }
  }
  *a = best_a;
  *b = best_b;
}

// The scoring loops below only read memory and keep their running values in
// locals: inside the module every store to memory would make the translated
// code reload the memory's base and size.

// Nearest squared distance from the entry at position p to the pair (a, b)'s
// palette: the two values and their thirds mixes (m0, m1).
inline int pair_nearest(int p, const int* to_a, const int* to_b, const int* m0, const int* m1) {
  int c = colours.rgb[p];
  int d = min2(to_a[p], to_b[p]);
  d = min2(d, squared_to_packed(c, m0[0], m0[1], m0[2]));
  return min2(d, squared_to_packed(c, m1[0], m1[1], m1[2]));
}

// Block error of a candidate as defined: its terms in list order; the
// nearest squared distance from the entry at position p to the candidate's
// palette is nearest(p).
template <typename Nearest>
inline float complete_error(const Nearest& nearest) {
  float error = 0.0f;
  for (int k = 0; k < colours.list_count; k++)
    error += rounded_distance(nearest(colours.position_of[k]));
  return error;
}

// Block error of a candidate, or -1 when the screen, which adds the terms in
// position order, each colour's term times the entries that hold it, drops
// it. Every colour distinct, the weights are left out.
template <typename Nearest>
inline float screened_error(const Nearest& nearest, float best) {
  float bound = best * SCREEN_MARGIN;
  float sum = 0.0f;
  if (colours.count == colours.list_count) {
    for (int p = 0; p < colours.count; p++) {
      sum += rounded_distance(nearest(p));
      if (sum > bound) return -1.0f;
    }
  } else {
    for (int p = 0; p < colours.count; p++) {
      sum += colours.weight[p] * rounded_distance(nearest(p));
      if (sum > bound) return -1.0f;
    }
  }
  return complete_error(nearest);
}

// Block error of the pair of values (a, b), or -1 when the screen drops it.
inline float pair_error(int a, int b, float best) {
  const int* pa = colours.value_rgb[a];
  const int* pb = colours.value_rgb[b];
  const int m0[3] = {third(pa[0], pb[0]), third(pa[1], pb[1]), third(pa[2], pb[2])};
  const int m1[3] = {third(pb[0], pa[0]), third(pb[1], pa[1]), third(pb[2], pa[2])};
  const int* to_a = colours.distance[a];
  const int* to_b = colours.distance[b];
  auto nearest = [&](int p) { return pair_nearest(p, to_a, to_b, m0, m1); };
  // the block's first candidate, the seed, always wins: no screen
  return best < NO_ERROR_YET ? screened_error(nearest, best) : complete_error(nearest);
}

// Block error of the pair of equal values (a, a), or -1 when the screen
// drops it: third(a, a) is a, so all four palette entries are a and each
// term is the entry's distance to a.
inline float equal_pair_error(int a, float best) {
  const int* to_a = colours.distance[a];
  return screened_error([&](int p) { return to_a[p]; }, best);
}

// Nearest squared distance from the entry at position p to the triple's
// palette, given its nearest distance to the pair's four entries: the third
// value g and its halves with each of the pair come from near_half, the mean
// of the three (m) is measured here.
inline int triple_nearest(int p, const int* pair_near, const int* near_a, const int* near_b,
                          const int* m) {
  int d = min2(pair_near[p], near_a[p]);
  d = min2(d, near_b[p]);
  return min2(d, squared_to_packed(colours.rgb[p], m[0], m[1], m[2]));
}

// Block error of the triple of values (a, b, g), or -1 when the screen drops
// it.
inline float triple_error(int a, int b, int g, const int* pair_near, float best) {
  const int* pa = colours.value_rgb[a];
  const int* pb = colours.value_rgb[b];
  const int* pg = colours.value_rgb[g];
  const int m[3] = {third3(pa[0], pb[0], pg[0]), third3(pa[1], pb[1], pg[1]),
                    third3(pa[2], pb[2], pg[2])};
  const int* near_a = near_half[a][g];
  const int* near_b = near_half[b][g];
  return screened_error([&](int p) { return triple_nearest(p, pair_near, near_a, near_b, m); },
                        best);
}

// Block error of a triple whose third value repeats one of the pair, or -1
// when the screen drops it. With g = a, the mean of the three is
// third(a, b) and g's half with a is a itself, all in the pair's palette, so
// the one new entry is the half of b and a: each term is the smaller of the
// pair's nearest distance and near_half[b][a] (`near_other`); g = b is the
// same with a and b swapped.
inline float repeated_triple_error(const int* pair_near, const int* near_other, float best) {
  return screened_error([&](int p) { return min2(pair_near[p], near_other[p]); }, best);
}

// Every third value with the pair (a, b), a <= b; returns the best error.
// Equal values (a == b) form a candidate only with the third value equal
// too.
float score_pair_with_thirds(int a, int b, float best) {
  const int* pa = colours.value_rgb[a];
  const int* pb = colours.value_rgb[b];
  const int m0[3] = {third(pa[0], pb[0]), third(pa[1], pb[1]), third(pa[2], pb[2])};
  const int m1[3] = {third(pb[0], pa[0]), third(pb[1], pa[1]), third(pb[2], pa[2])};
  int pair_near[16];
  for (int p = 0; p < colours.count; p++)
    pair_near[p] = pair_nearest(p, colours.distance[a], colours.distance[b], m0, m1);

  int first = a == b ? a : 0;
  int last = a == b ? a : colours.value_count - 1;
  for (int g = first; g <= last; g++) {
    float error = g == a   ? repeated_triple_error(pair_near, near_half[b][a], best)
                  : g == b ? repeated_triple_error(pair_near, near_half[a][b], best)
                           : triple_error(a, b, g, pair_near, best);
    best = note_score(error, a, b, g, best);
  }
  return best;
}

}  // namespace

void find_endpoints(const uint8_t* colour_list, int colour_count, uint16_t* e, uint16_t* f) {
  prepare_colours(colour_list, colour_count);
  int seed_a, seed_b;
  farthest_values(&seed_a, &seed_b);
  float best = NO_ERROR_YET;
  best = note_score(pair_error(seed_a, seed_b, best), seed_a, seed_b, 0, best);
  for (int a = 0; a < colours.value_count; a++) {
    for (int b = a; b < colours.value_count; b++) {
      if (a == seed_a && b == seed_b) continue;
      float error = a == b ? equal_pair_error(a, best) : pair_error(a, b, best);
      best = note_score(error, a, b, 0, best);
    }
  }

  // the scan meets pairs (i, j) in order: for a best value pair, the first
  // entry holding either value, then the first holding the other one
  const int* first = colours.first;
  int best_i = 16, best_j = 16;
  for (int w = 0; w < winners.count; w++) {
    int a = winners.packed[w] & 15, b = winners.packed[w] >> 4 & 15;
    int i = first[a] < first[b] ? first[a] : first[b];
    int j = first[a] < first[b] ? first[b] : first[a];
    if (i < best_i || (i == best_i && j < best_j)) {
      best_i = i;
      best_j = j;
    }
  }
  *e = colours.value[colours.value_of[best_i]];
  *f = colours.value[colours.value_of[best_j]];
}

void find_endpoint_triple(const uint8_t* colour_list, int colour_count, uint16_t* e, uint16_t* f,
                          uint16_t* g) {
  prepare_colours(colour_list, colour_count);
  *e = *f = *g = colours.value[0];
  if (colour_count < 2) return;  // no pair of entries: nothing is scanned
  prepare_near_halves();

  // candidates with equal first values need that value twice in the list
  float best = NO_ERROR_YET;
  int seed_a, seed_b;
  farthest_values(&seed_a, &seed_b);
  bool seed_scanned = seed_a != seed_b || colours.second[seed_a] >= 0;
  if (seed_scanned) best = score_pair_with_thirds(seed_a, seed_b, best);
  for (int a = 0; a < colours.value_count; a++) {
    for (int b = a; b < colours.value_count; b++) {
      if (seed_scanned && a == seed_a && b == seed_b) continue;
      if (a == b && colours.second[a] < 0) continue;
      best = score_pair_with_thirds(a, b, best);
    }
  }

  // the scan meets triples (i < j, then k) in order: for a best value
  // triple, the first two entries holding its first two values (the first
  // two holding the value, when they are equal), then the first holding the
  // third value
  const int* first = colours.first;
  const int* second = colours.second;
  int best_i = 16, best_j = 16, best_k = 16;
  for (int w = 0; w < winners.count; w++) {
    int a = winners.packed[w] & 15, b = winners.packed[w] >> 4 & 15, c = winners.packed[w] >> 8;
    int i = a == b ? first[a] : (first[a] < first[b] ? first[a] : first[b]);
    int j = a == b ? second[a] : (first[a] < first[b] ? first[b] : first[a]);
    int k = first[c];
    if (i < best_i || (i == best_i && (j < best_j || (j == best_j && k < best_k)))) {
      best_i = i;
      best_j = j;
      best_k = k;
    }
  }
  *e = colours.value[colours.value_of[best_i]];
  *f = colours.value[colours.value_of[best_j]];
  *g = colours.value[colours.value_of[best_k]];
}
