/* The libraries' own decoding of RTP payloads, the reference for the voice codec captures.
 *
 *   voice_ref CODEC IN.payloads OUT.s16le [CHANNELS|RATE]
 *
 * IN holds one RTP payload after another, each preceded by its length (32 bits, little
 * endian), as scripts/corpus/rtp_payloads.py --framed writes them. CODEC:
 *   gsm          libgsm: every 33-byte frame of a payload (160 samples each)
 *   g729         bcg729: every 10-byte frame, and a 2-byte SID frame at a payload's end
 *   opus CH      libopus at 48 kHz with CH channels: one packet per payload
 *   speex RATE   libspeex in the mode of RATE (8000, 16000, 32000): every frame of a payload
 * Writes 16-bit little-endian samples, interleaved for two channels. */
#include <bcg729/decoder.h>
#include <gsm/gsm.h>
#include <opus/opus.h>
#include <speex/speex.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int read_payload(FILE* in, uint8_t* buffer, uint32_t* length) {
  uint8_t head[4];
  if (fread(head, 1, 4, in) != 4) return 0;
  *length = head[0] | (head[1] << 8) | (head[2] << 16) | ((uint32_t)head[3] << 24);
  if (*length > 65536) return 0;
  return fread(buffer, 1, *length, in) == *length;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: voice_ref gsm|g729|opus CH|speex RATE IN OUT\n");
    return 2;
  }
  const char* codec = argv[1];
  FILE* in = fopen(argv[2], "rb");
  FILE* out = fopen(argv[3], "wb");
  if (in == NULL || out == NULL) return 1;
  const int arg = argc > 4 ? atoi(argv[4]) : 0;
  static uint8_t payload[65536];
  static int16_t pcm[5760 * 2];
  uint32_t length;
  gsm g = gsm_create();
  bcg729DecoderChannelContextStruct* g729 = initBcg729DecoderChannel();
  int error = 0;
  const int channels = arg == 2 ? 2 : 1;
  OpusDecoder* opus = opus_decoder_create(48000, channels, &error);
  const int mode = arg >= 32000 ? SPEEX_MODEID_UWB : arg >= 16000 ? SPEEX_MODEID_WB : SPEEX_MODEID_NB;
  void* speex = speex_decoder_init(speex_lib_get_mode(mode));
  int speexFrame = 160;
  speex_decoder_ctl(speex, SPEEX_GET_FRAME_SIZE, &speexFrame);
  SpeexBits bits;
  speex_bits_init(&bits);
  while (read_payload(in, payload, &length)) {
    if (strcmp(codec, "gsm") == 0) {
      for (uint32_t at = 0; at + 33 <= length; at += 33) {
        if (gsm_decode(g, payload + at, pcm) == 0) fwrite(pcm, 2, 160, out);
      }
    } else if (strcmp(codec, "g729") == 0) {
      uint32_t at = 0;
      for (; at + 10 <= length; at += 10) {
        bcg729Decoder(g729, payload + at, 10, 0, 0, 0, pcm);
        fwrite(pcm, 2, 80, out);
      }
      if (length - at == 2) {
        bcg729Decoder(g729, payload + at, 2, 0, 1, 0, pcm);
        fwrite(pcm, 2, 80, out);
      }
    } else if (strcmp(codec, "opus") == 0) {
      const int n = opus_decode(opus, payload, (opus_int32)length, pcm, 5760, 0);
      if (n > 0) fwrite(pcm, 2, (size_t)(n * channels), out);
    } else if (strcmp(codec, "speex") == 0) {
      speex_bits_read_from(&bits, (char*)payload, (int)length);
      while (speex_bits_remaining(&bits) >= 5 && speex_decode_int(speex, &bits, pcm) == 0) {
        fwrite(pcm, 2, (size_t)speexFrame, out);
      }
    }
  }
  gsm_destroy(g);
  closeBcg729DecoderChannel(g729);
  opus_decoder_destroy(opus);
  speex_bits_destroy(&bits);
  speex_decoder_destroy(speex);
  fclose(in);
  return fclose(out) == 0 ? 0 : 1;
}
