// Record fields that libhsakmt 6.4 added: read and set through these, kfdsim also builds
// against an older header, where they read as 0 and setting them does nothing.
#pragma once

#include <type_traits>

#include <hsakmt/hsakmt.h>

namespace recent_fields_detail {

template <typename R, typename = void>
struct HasNeuralCores : std::false_type {};
template <typename R>
struct HasNeuralCores<R, std::void_t<decltype(R::NumNeuralCores)>> : std::true_type {};

// The int overloads exist only when the header has the field; the long ones are the fallback.
template <typename R>
auto neuralCores(const R& r, int) -> decltype(HSAuint32{r.NumNeuralCores}) {
    return r.NumNeuralCores;
}
template <typename R>
HSAuint32 neuralCores(const R&, long) {
    return 0;
}
template <typename R>
auto setNeuralCores(R& r, HSAuint32 value, int) -> decltype(void(r.NumNeuralCores = value)) {
    r.NumNeuralCores = value;
}
template <typename R>
void setNeuralCores(R&, HSAuint32, long) {}

template <typename R>
auto overrideEngine(const R& r, int) -> decltype(HSAuint32{r.OverrideEngineId.Value}) {
    return r.OverrideEngineId.Value;
}
template <typename R>
HSAuint32 overrideEngine(const R&, long) {
    return 0;
}
template <typename R>
auto setOverrideEngine(R& r, HSAuint32 value, int)
    -> decltype(void(r.OverrideEngineId.Value = value)) {
    r.OverrideEngineId.Value = value;
}
template <typename R>
void setOverrideEngine(R&, HSAuint32, long) {}

template <typename R>
auto sdmaMask(const R& r, int) -> decltype(HSAuint32{r.RecSdmaEngIdMask}) {
    return r.RecSdmaEngIdMask;
}
template <typename R>
HSAuint32 sdmaMask(const R&, long) {
    return 0;
}
template <typename R>
auto setSdmaMask(R& r, HSAuint32 value, int) -> decltype(void(r.RecSdmaEngIdMask = value)) {
    r.RecSdmaEngIdMask = value;
}
template <typename R>
void setSdmaMask(R&, HSAuint32, long) {}

}  // namespace recent_fields_detail

/// Whether the header's records have the fields of 6.4.
inline constexpr bool recentFieldsInHeader =
    recent_fields_detail::HasNeuralCores<HsaNodeProperties>::value;

inline HSAuint32 numNeuralCores(const HsaNodeProperties& r) {
    return recent_fields_detail::neuralCores(r, 0);
}
inline void setNumNeuralCores(HsaNodeProperties& r, HSAuint32 value) {
    recent_fields_detail::setNeuralCores(r, value, 0);
}
inline HSAuint32 overrideEngineId(const HsaNodeProperties& r) {
    return recent_fields_detail::overrideEngine(r, 0);
}
inline void setOverrideEngineId(HsaNodeProperties& r, HSAuint32 value) {
    recent_fields_detail::setOverrideEngine(r, value, 0);
}
inline HSAuint32 recSdmaEngIdMask(const HsaIoLinkProperties& r) {
    return recent_fields_detail::sdmaMask(r, 0);
}
inline void setRecSdmaEngIdMask(HsaIoLinkProperties& r, HSAuint32 value) {
    recent_fields_detail::setSdmaMask(r, value, 0);
}
