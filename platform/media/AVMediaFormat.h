#pragma once
// Names that capture, asset reading and asset writing share: media types, the codec key, and the
// error domain.

inline constexpr char AVMediaTypeVideo[] = "vide";
inline constexpr char AVMediaTypeAudio[] = "soun";
inline constexpr char AVVideoCodecKey[] = "AVVideoCodecKey";
inline constexpr char AVFoundationErrorDomain[] = "AVFoundationErrorDomain";
