/* A G.729 encoder on bcg729 for the test corpus.
 *
 *   g729_encode IN.s16le OUT.frames [--vad]
 *
 * Reads 8 kHz 16-bit little-endian mono samples and encodes each 80-sample block. Every
 * frame is written as one length byte and its bytes: 10 for a speech frame and, with --vad
 * (G.729 Annex B), 2 for a SID frame and 0 for a frame not transmitted. */
#include <bcg729/encoder.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: g729_encode IN.s16le OUT.frames [--vad]\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  FILE* out = fopen(argv[2], "wb");
  if (in == NULL || out == NULL) return 1;
  const int vad = argc > 3 && strcmp(argv[3], "--vad") == 0;
  bcg729EncoderChannelContextStruct* encoder = initBcg729EncoderChannel((uint8_t)vad);
  int16_t block[80];
  while (fread(block, 2, 80, in) == 80) {
    uint8_t frame[10];
    uint8_t length = 0;
    bcg729Encoder(encoder, block, frame, &length);
    fputc(length, out);
    fwrite(frame, 1, length, out);
  }
  closeBcg729EncoderChannel(encoder);
  fclose(in);
  return fclose(out) == 0 ? 0 : 1;
}
