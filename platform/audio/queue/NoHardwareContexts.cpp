// libavutil's hardware frame contexts, left out. libavcodec's generic decoding code refers to
// them (a video decoder may run on a GPU), and linking the real ones from the static libavutil
// would bring VA-API, VDPAU, OpenCL, DRM, Media SDK and Xlib with them: eighteen shared
// libraries that every process of ours would load and relocate at start-up, for audio
// decoders that never ask for a device. Defining the public functions here keeps that part
// of the archive out of the link; they say that no device exists.

extern "C" {
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
}

#include <cerrno>

extern "C" {

AVHWDeviceType av_hwdevice_find_type_by_name(const char*) { return AV_HWDEVICE_TYPE_NONE; }
const char* av_hwdevice_get_type_name(AVHWDeviceType) { return nullptr; }
AVHWDeviceType av_hwdevice_iterate_types(AVHWDeviceType) { return AV_HWDEVICE_TYPE_NONE; }
AVBufferRef* av_hwdevice_ctx_alloc(AVHWDeviceType) { return nullptr; }
int av_hwdevice_ctx_init(AVBufferRef*) { return AVERROR(ENOSYS); }
int av_hwdevice_ctx_create(AVBufferRef** device, AVHWDeviceType, const char*, AVDictionary*, int) {
    if (device) *device = nullptr;
    return AVERROR(ENOSYS);
}
int av_hwdevice_ctx_create_derived(AVBufferRef** device, AVHWDeviceType, AVBufferRef*, int) {
    if (device) *device = nullptr;
    return AVERROR(ENOSYS);
}
int av_hwdevice_ctx_create_derived_opts(AVBufferRef** device, AVHWDeviceType, AVBufferRef*,
                                        AVDictionary*, int) {
    if (device) *device = nullptr;
    return AVERROR(ENOSYS);
}
AVBufferRef* av_hwframe_ctx_alloc(AVBufferRef*) { return nullptr; }
int av_hwframe_ctx_init(AVBufferRef*) { return AVERROR(ENOSYS); }
int av_hwframe_get_buffer(AVBufferRef*, AVFrame*, int) { return AVERROR(ENOSYS); }
int av_hwframe_transfer_data(AVFrame*, const AVFrame*, int) { return AVERROR(ENOSYS); }
int av_hwframe_transfer_get_formats(AVBufferRef*, AVHWFrameTransferDirection, AVPixelFormat**,
                                    int) {
    return AVERROR(ENOSYS);
}
void* av_hwdevice_hwconfig_alloc(AVBufferRef*) { return nullptr; }
AVHWFramesConstraints* av_hwdevice_get_hwframe_constraints(AVBufferRef*, const void*) {
    return nullptr;
}
void av_hwframe_constraints_free(AVHWFramesConstraints** constraints) {
    if (constraints) *constraints = nullptr;
}
int av_hwframe_map(AVFrame*, const AVFrame*, int) { return AVERROR(ENOSYS); }
int av_hwframe_ctx_create_derived(AVBufferRef** frames, AVPixelFormat, AVBufferRef*, AVBufferRef*,
                                  int) {
    if (frames) *frames = nullptr;
    return AVERROR(ENOSYS);
}

}  // extern "C"
