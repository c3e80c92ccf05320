#pragma once
// Reading a framebuffer's pixels back to the CPU, for the filters that count or average on the
// CPU, and drawing vertices the CPU made from them. A source's framebuffer may be a texture alone (a
// picture's upload): it is then attached to a framebuffer object of the moment for the read.

#include <algorithm>

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

namespace detail {

// Draws `count` vertices from client memory as the position attribute, with every other array
// switched off for the draw (and on again after), so that no array left enabled by another
// program is read past its end. On the shared context queue, program current.
inline void drawClientPositions(GLenum mode, GLint positionAttribute, GLint components, GLenum type,
                                GLsizei stride, const void* data, GLsizei count) {
    if (positionAttribute < 0 || count <= 0) return;
    GLint maxAttributes = 0;
    glGetIntegerv(GL_MAX_VERTEX_ATTRIBS, &maxAttributes);
    maxAttributes = std::min<GLint>(maxAttributes, 32);
    bool wasEnabled[32] = {};
    for (GLint i = 0; i < maxAttributes; ++i) {
        GLint enabled = 0;
        glGetVertexAttribiv(static_cast<GLuint>(i), GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
        wasEnabled[i] = enabled != 0;
        if (enabled && i != positionAttribute) glDisableVertexAttribArray(static_cast<GLuint>(i));
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glEnableVertexAttribArray(static_cast<GLuint>(positionAttribute));
    glVertexAttribPointer(static_cast<GLuint>(positionAttribute), components, type, GL_FALSE, stride, data);
    glDrawArrays(mode, 0, count);
    for (GLint i = 0; i < maxAttributes; ++i)
        if (i != positionAttribute && wasEnabled[i]) glEnableVertexAttribArray(static_cast<GLuint>(i));
}

}  // namespace detail
