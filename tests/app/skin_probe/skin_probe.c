/* Stands in for the skin engine in the program's own tests: its one entry hands what it was
 * given to the test program, through the loader's resolver, and answers what the test says. */
#include <stdint.h>

#define PROBE_EXPORT __attribute__((visibility("default")))

extern int32_t ff_skin_probe_record(const uint8_t* data, int32_t length, const char* password,
                                    int32_t hue, int32_t saturation, int32_t brightness);

PROBE_EXPORT int32_t SkinH_AttachRes(const uint8_t* data, int32_t length, const char* password,
                                     int32_t hue, int32_t saturation, int32_t brightness) {
  return ff_skin_probe_record(data, length, password, hue, saturation, brightness);
}
