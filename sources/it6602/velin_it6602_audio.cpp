// IT6602 receivers: the audio state machine. It waits for valid audio, resets the chip's
// audio path, enables the audio output and watches for format changes. Which input's audio
// reaches the device's output is chosen outside the chip (the expander, velinsource).
#include "sources/it6602/velin_it6602.h"

#include "core/global.h"

void velin_it6602::IT6602AudioOutputEnable(int fd, int on)
{
    set_counted(fd, 0x52, 0x1F, on ? 0x00 : 0x1F);
}

void velin_it6602::hdmirx_SetHWMuteClr(int fd)
{
    set_counted(fd, 0x7D, 0x10, 0x10);
}

void velin_it6602::hdmirx_ClearHWMuteClr(int fd)
{
    set_counted(fd, 0x7D, 0x10, 0x00);
}

void velin_it6602::hdmirx_SetHWMuteClrMode(int fd)
{
    set_counted(fd, 0x7D, 0x20, 0x20);
}

void velin_it6602::hdmirx_ResetAudio(int fd)
{
    set_counted(fd, 0x10, 0x02, 0x02);
    set_counted(fd, 0x10, 0x02, 0x00);
    const RegRead value = hdmirxrd_it6602(fd, 0x7B);
    for (int i = 0; value.ok() && i < 4; ++i)   // not read: counted, the state is made again
        write_counted(fd, 0x7B, value.value());
}

void velin_it6602::aud_fiforst(int fd)
{
    set_counted(fd, 0x74, 0x0C, 0x0C);
    delay1ms(100);
    set_counted(fd, 0x74, 0x0C, 0x00);
    hdmirx_ResetAudio(fd);
}

bool velin_it6602::getHDMIRXInputAudio(int fd, AUDIO_CAPS* caps)
{
    const RegRead fs = hdmirxrd_it6602(fd, 0xAE), r1 = hdmirxrd_it6602(fd, 0xAA), r2 = hdmirxrd_it6602(fd, 0xAA);
    if (!fs.ok() || !r1.ok() || !r2.ok())
        return false;
    const uint8_t first = r1.value(), second = r2.value();
    AUDIO_CAPS now;
    now.SampleFreq = uint8_t(fs.value() & 0x0F);
    now.AudioFlag = uint8_t(first & 0xF0);
    now.AudSrcEnable = uint8_t((first | second) & 0x0F);
    if (!(first & 0x60)) {
        const RegFlag layout = hdmirxrd_it6602(fd, 0xAB).any(0x01);
        if (!layout.ok())
            return false;
        now.AudioFlag |= layout.value() ? 0 : 0x01;
    }
    *caps = now;
    return true;
}

void velin_it6602::IT6602SwitchAudioState(int fd, IT6602_dev_data* d, int state)
{
    if (d->m_AState == state)
        return;
    const uint32_t errors = io_errors;
    switch_audio(fd, d, state);
    // A change a transfer of which failed (the output enable, a reset) is made again.
    d->m_AudioRetry = io_errors != errors && d->m_AState == state ? uint8_t(state + 1) : 0;
}

void velin_it6602::switch_audio(int fd, IT6602_dev_data* d, int state)
{
    d->m_AState = uint8_t(state);
    KEL_TRACE("+++ %s\n", AStateStr[state < 6 ? state : 5]);
    switch (state) {
    case ASTATE_AudioOff:
        set_counted(fd, 0x10, 0x02, 0x02);
        IT6602AudioOutputEnable(fd, 0);
        break;
    case ASTATE_RequestAudio:
        IT6602AudioOutputEnable(fd, 0);
        break;
    case ASTATE_WaitForReady:
        hdmirx_SetHWMuteClr(fd);
        hdmirx_ClearHWMuteClr(fd);
        d->m_AudioCountingTimer = 201;
        break;
    case ASTATE_AudioOn:
        IT6602AudioOutputEnable(fd, 1);
        KEL_TRACE("Cat6023 Audio--> Audio flag=%02X,Ch No=%02X,Fs=%02X ...\n", d->m_RxAudioCaps.AudioFlag,
                  d->m_RxAudioCaps.AudSrcEnable, d->m_RxAudioCaps.SampleFreq);
        break;
    default:
        break;
    }
}

void velin_it6602::IT6602AudioHandler(int fd, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    if (d->m_bHold == 1)
        return;
    if (d->m_AudioRetry) {
        const int state = d->m_AudioRetry - 1;
        d->m_AudioRetry = 0;
        d->m_AState = uint8_t(state == ASTATE_AudioOff ? ASTATE_RequestAudio : ASTATE_AudioOff);   // not the same: made again
        IT6602SwitchAudioState(fd, d, state);
        return;
    }
    d->m_AudioCountingTimer = d->m_AudioCountingTimer > 100 ? uint16_t(d->m_AudioCountingTimer - 100) : 0;
    switch (d->m_AState) {
    case ASTATE_WaitForReady:
        if (d->m_AudioCountingTimer == 0)
            IT6602SwitchAudioState(fd, d, ASTATE_AudioOn);
        break;
    case ASTATE_AudioOn:
        if (d->m_AudioCountingTimer == 0) {
            d->m_AudioCountingTimer = 151;
            AUDIO_CAPS now;
            if (!getHDMIRXInputAudio(fd, &now)) {
                d->m_AudioCountingTimer = 0;   // not read: looked at again on the next pass
                break;
            }
            if (now.AudioFlag != d->m_RxAudioCaps.AudioFlag || now.AudSrcEnable != d->m_RxAudioCaps.AudSrcEnable ||
                now.SampleFreq != d->m_RxAudioCaps.SampleFreq)
                IT6602SwitchAudioState(fd, d, ASTATE_RequestAudio);
        }
        break;
    case ASTATE_RequestAudio:
        // Without audio (a DVI source), or not read, the request waits.
        if (getHDMIRXInputAudio(fd, &d->m_RxAudioCaps) && (d->m_RxAudioCaps.AudioFlag & 0x80)) {
            set_counted(fd, 0x54, 0x70, 0x10);
            if (d->m_RxAudioCaps.AudioFlag & 0x40)
                set_counted(fd, 0x54, 0x70, 0x00);
            else if (!(d->m_RxAudioCaps.AudioFlag & 0x20))
                set_counted(fd, 0x7D, 0x10, 0x00);
            hdmirx_SetHWMuteClrMode(fd);
            hdmirx_ResetAudio(fd);
            IT6602SwitchAudioState(fd, d, ASTATE_WaitForReady);
        }
        break;
    default:
        break;
    }
}
