#pragma once
// The OpenGL ES 2 interface, as the GPU code includes it: the core calls and enums plus the
// extension enums the pipeline relies on (BGRA uploads and read-back, red-channel textures).
//
// Every GL call is made on the thread where the owning context is current; see EAGLContext.h and
// GLThreadQueue.h.

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#ifndef GL_BGRA
#define GL_BGRA GL_BGRA_EXT
#endif
#ifndef GL_RED
#define GL_RED GL_RED_EXT
#endif
#ifndef GL_RG
#define GL_RG GL_RG_EXT
#endif
#ifndef GL_HALF_FLOAT
#define GL_HALF_FLOAT GL_HALF_FLOAT_OES
#endif
