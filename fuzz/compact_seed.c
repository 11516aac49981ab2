/* Source of the two compact seeds in corpus/loader/ (a few KB each, so the fuzzer's mutations
 * land in headers and tables rather than padding):
 *   gcc -shared -fPIC -O2 -nostdlib -Wl,-z,noseparate-code -Wl,--hash-style=sysv -Wl,-z,now \
 *       -s compact_seed.c -o corpus/loader/compact_sysv_hash.so
 *   gcc -shared -fPIC -O2 -nostdlib -Wl,-z,noseparate-code -Wl,--hash-style=gnu \
 *       -Wl,-z,pack-relative-relocs -s compact_seed.c -o corpus/loader/compact_relr.so
 * The other two seeds are the skin engine and the loader tests' probe library as the build
 * makes them. */
extern int counter;
extern int weak_thing __attribute__((weak));
int answer(void) {
  return 42 + counter;
}
int (*hook)(void) = answer;
const char* greeting = "seed";
