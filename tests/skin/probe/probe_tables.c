/* Tables of pointers into the probe's own data, linked into the probe's variants: every entry is
 * a relative relocation, in runs long enough to need several bitmap words when they are packed,
 * and with plain numbers between pointers so that a packed list has gaps. All of them are
 * constant, so they lie in the image's relocation read-only data. */
#define PROBE_EXPORT __attribute__((visibility("default")))

#define PROBE_CELL_COUNT 150

static const int cells[PROBE_CELL_COUNT];

/* The address of one cell, computed by code rather than read from a relocated word. */
PROBE_EXPORT const int* ff_probe_cell(int index) {
  return &cells[index];
}

#define CELL1(n) &cells[n]
#define CELL10(n)                                                                               \
  CELL1(n), CELL1(n + 1), CELL1(n + 2), CELL1(n + 3), CELL1(n + 4), CELL1(n + 5), CELL1(n + 6), \
      CELL1(n + 7), CELL1(n + 8), CELL1(n + 9)
#define CELL50(n) CELL10(n), CELL10(n + 10), CELL10(n + 20), CELL10(n + 30), CELL10(n + 40)

/* One pointer after another: 150 words, every one relocated. */
PROBE_EXPORT const int* const ff_probe_cells[PROBE_CELL_COUNT] = {CELL50(0), CELL50(50),
                                                                  CELL50(100)};

/* A pointer, then a number the loader must leave alone: every other word relocated. */
struct probe_pair {
  const int* cell;
  long number;
};

#define PAIR1(n) \
  { &cells[n], n }
#define PAIR10(n)                                                                               \
  PAIR1(n), PAIR1(n + 1), PAIR1(n + 2), PAIR1(n + 3), PAIR1(n + 4), PAIR1(n + 5), PAIR1(n + 6), \
      PAIR1(n + 7), PAIR1(n + 8), PAIR1(n + 9)

PROBE_EXPORT const struct probe_pair ff_probe_pairs[80] = {
    PAIR10(0), PAIR10(10), PAIR10(20), PAIR10(30), PAIR10(40), PAIR10(50), PAIR10(60), PAIR10(70)};

/* Two pointers with two hundred plain words between them, too many for bitmaps to bridge. */
struct probe_far {
  const int* head;
  long gap[200];
  const int* tail;
};

PROBE_EXPORT const struct probe_far ff_probe_far = {&cells[0], {0}, &cells[PROBE_CELL_COUNT - 1]};

/* A constant pointer to the image's own read-only text, alone in its word. */
PROBE_EXPORT const char* const ff_probe_fixed_greeting = "fixed";
