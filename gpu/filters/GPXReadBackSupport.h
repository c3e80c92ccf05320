#pragma once
// Reading a framebuffer's pixels back to the CPU, for the filters that count or average on the
// CPU. A source's framebuffer may be a texture alone (a picture's upload): it is then attached to
// a framebuffer object of the moment for the read.

#include "gpu/core/GPXFramebuffer.h"

namespace detail {

// RGBA bytes of the framebuffer's first `width` x `height` pixels into `bytes` (room for them is
// the caller's). On the shared context queue, with the image-processing context current.
inline void readFramebufferPixels(const Ref<GPXFramebuffer>& framebuffer, GLsizei width, GLsizei height,
                                  GLubyte* bytes) {
    if (!framebuffer->missingFramebuffer()) {
        framebuffer->activateFramebuffer();
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bytes);
        return;
    }
    GLuint temporary = 0;
    glGenFramebuffers(1, &temporary);
    glBindFramebuffer(GL_FRAMEBUFFER, temporary);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, framebuffer->texture(), 0);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bytes);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &temporary);
}

}  // namespace detail
