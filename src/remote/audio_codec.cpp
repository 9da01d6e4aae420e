// The Opus encoder and decoder of remote audio.
#include "core/works.h"
#include "platform/log.h"
#include "remote/audio.h"

#include <opus/opus.h>

namespace {

int uncompressed(Works* works)
{
    destroyAudioCodecs(works);
    works->audioBitrate = 0;
    return -1;
}

} // namespace

int createAudioCodecs(Works* works)
{
    if (works->audioBitrate <= 0)
        return 0;
    int err = OPUS_OK;
    works->opusEnc = opus_encoder_create(works->audioRate, 2, OPUS_APPLICATION_AUDIO, &err);
    if (err != OPUS_OK || !works->opusEnc) {
        logSys(LOG_ERR, "failed to create an encoder: %s", opus_strerror(err));
        return uncompressed(works);
    }
    err = opus_encoder_ctl(works->opusEnc, OPUS_SET_BITRATE(works->audioBitrate.load()));
    if (err != OPUS_OK) {
        logSys(LOG_ERR, "failed to set bitrate: %s", opus_strerror(err));
        return uncompressed(works);
    }
    works->opusDec = opus_decoder_create(works->audioRate, 2, &err);
    if (err != OPUS_OK || !works->opusDec) {
        logSys(LOG_ERR, "failed to create decoder: %s", opus_strerror(err));
        return uncompressed(works);
    }
    return 0;
}

void destroyAudioCodecs(Works* works)
{
    if (works->opusEnc)
        opus_encoder_destroy(works->opusEnc);
    if (works->opusDec)
        opus_decoder_destroy(works->opusDec);
    works->opusEnc = nullptr;
    works->opusDec = nullptr;
}
