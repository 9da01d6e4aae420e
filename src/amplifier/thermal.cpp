#include "amplifier/thermal.h"

#include "core/works.h"

float CalvTensVadcAmp(Works* works, int raw)
{
    const float k = works->ampModel == '1' ? 348.0f : 118.0f;
    return static_cast<float>(raw & 0xFF) * 3.3f * k / 255.0f / 18.0f;
}
