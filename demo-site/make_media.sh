#!/bin/sh
# Makes the demo site's sample media, played for every episode and answered for every download:
# six seconds of ffmpeg's test picture (320x180, 25 frames a second) with a 440 Hz tone, as
#   sample.mp4       H.264 constrained baseline + AAC-LC, index first (faststart)
#   seg0..2.ts       the same streams cut into 2-second MPEG-TS segments, and
#   segments.m3u8    ffmpeg's list of them, which the site reads for the segment durations.
# The files are committed under data/media; the build and the tests never run this. Run it again
# (from anywhere) only to change the media; the same ffmpeg makes the same bytes.
set -eu
cd "$(dirname "$0")/data/media"

# One thread and bitexact containers: no encoder or version strings, no thread-dependent
# decisions. The SEI units dropped are x264's banner of its version and options.
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=320x180:rate=25:duration=6" \
  -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=44100:duration=6" \
  -map 0:v -map 1:a -map_metadata -1 -map_chapters -1 \
  -threads 1 -fflags +bitexact -flags +bitexact \
  -c:v libx264 -profile:v baseline -level:v 3.0 -pix_fmt yuv420p -preset medium \
  -crf 30 -maxrate 120k -bufsize 240k -g 50 -keyint_min 50 -sc_threshold 0 \
  -bsf:v filter_units=remove_types=6 \
  -c:a aac -ac 1 -b:a 32k \
  -movflags +faststart \
  sample.mp4

# Every segment starts on a key frame (one each 50 frames), so copying cuts at 2 s exactly.
rm -f seg*.ts segments.m3u8
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -i sample.mp4 -map 0 -c copy -fflags +bitexact \
  -f hls -hls_time 2 -hls_playlist_type vod -hls_list_size 0 \
  -hls_segment_filename "seg%d.ts" \
  segments.m3u8
