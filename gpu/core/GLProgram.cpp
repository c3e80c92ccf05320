#include "gpu/core/GLProgram.h"

#include <algorithm>

#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "gpu/core/GPXContext.h"

GLProgram::GLProgram(const std::string& vertexShaderString, const std::string& fragmentShaderString)
    : queue_(GLThreadQueue::current()), context_(detail::currentQueueContext()) {
    build(vertexShaderString, fragmentShaderString);
}

GLProgram::GLProgram(const std::string& vertexShaderString, const GLShaderFilename& fragmentShaderFilename)
    : queue_(GLThreadQueue::current()), context_(detail::currentQueueContext()) {
    build(vertexShaderString, shaderTextFromResource(fragmentShaderFilename.name, "fsh"));
}

GLProgram::GLProgram(const GLShaderFilename& vertexShaderFilename,
                     const GLShaderFilename& fragmentShaderFilename)
    : queue_(GLThreadQueue::current()), context_(detail::currentQueueContext()) {
    build(shaderTextFromResource(vertexShaderFilename.name, "vsh"),
          shaderTextFromResource(fragmentShaderFilename.name, "fsh"));
}

std::optional<std::string> GLProgram::shaderTextFromResource(const std::string& name,
                                                             const std::string& extension) {
    auto path = NSBundle::mainBundle()->pathForResource(name, extension);
    if (!path) return std::nullopt;
    auto data = NSData::dataWithContentsOfFile(*path);
    if (!data) return std::nullopt;
    return data->toString();
}

void GLProgram::build(const std::optional<std::string>& vertex, const std::optional<std::string>& fragment) {
    program_ = glCreateProgram();
    if (!compileShader(&vertShader_, GL_VERTEX_SHADER, vertex)) NSLogLine("Failed to compile vertex shader");
    if (!compileShader(&fragShader_, GL_FRAGMENT_SHADER, fragment))
        NSLogLine("Failed to compile fragment shader");
    glAttachShader(program_, vertShader_);
    glAttachShader(program_, fragShader_);
}

GLProgram::~GLProgram() {
    const GLuint vertex = vertShader_, fragment = fragShader_, program = program_;
    auto remove = [=] {
        if (vertex) glDeleteShader(vertex);
        if (fragment) glDeleteShader(fragment);
        if (program) glDeleteProgram(program);
    };
    if (queue_ && GLThreadQueue::current() == queue_) {
        remove();
    } else if (auto context = context_.lock()) {
        performSyncOnContextQueue(context, remove);
    }
    // Otherwise the context is gone, and its objects with it.
}

bool GLProgram::compileShader(GLuint* shader, GLenum type, const std::optional<std::string>& source) {
    if (!source) {
        // The same words for either kind of shader.
        NSLogLine("Failed to load vertex shader");
        return false;
    }
    *shader = glCreateShader(type);
    const GLchar* text = source->c_str();
    glShaderSource(*shader, 1, &text, nullptr);
    glCompileShader(*shader);
    GLint status = GL_FALSE;
    glGetShaderiv(*shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        GLint length = 0;
        glGetShaderiv(*shader, GL_INFO_LOG_LENGTH, &length);
        if (length >= 1) {
            std::string log(static_cast<std::size_t>(length), '\0');
            glGetShaderInfoLog(*shader, length, &length, log.data());
            log.resize(static_cast<std::size_t>(std::max(length, 0)));
            std::lock_guard lock(logMutex_);
            (shader == &vertShader_ ? vertexShaderLog_ : fragmentShaderLog_) = log;
        }
    }
    return status == GL_TRUE;
}

void GLProgram::addAttribute(const std::string& attributeName) {
    if (std::find(attributes_.begin(), attributes_.end(), attributeName) != attributes_.end()) return;
    attributes_.push_back(attributeName);
    glBindAttribLocation(program_, static_cast<GLuint>(attributes_.size() - 1), attributeName.c_str());
}

GLuint GLProgram::attributeIndex(const std::string& attributeName) const {
    auto found = std::find(attributes_.begin(), attributes_.end(), attributeName);
    if (found == attributes_.end()) return static_cast<GLuint>(-1);
    return static_cast<GLuint>(found - attributes_.begin());
}

GLuint GLProgram::uniformIndex(const std::string& uniformName) const {
    return static_cast<GLuint>(glGetUniformLocation(program_, uniformName.c_str()));
}

bool GLProgram::link() {
    glLinkProgram(program_);
    GLint status = GL_FALSE;
    glGetProgramiv(program_, GL_LINK_STATUS, &status);
    if (status == GL_FALSE) {
        GLint length = 0;
        glGetProgramiv(program_, GL_INFO_LOG_LENGTH, &length);
        if (length >= 1) {
            std::string log(static_cast<std::size_t>(length), '\0');
            glGetProgramInfoLog(program_, length, &length, log.data());
            log.resize(static_cast<std::size_t>(std::max(length, 0)));
            std::lock_guard lock(logMutex_);
            programLog_ = log;
        }
        return false;
    }
    if (vertShader_) {
        glDeleteShader(vertShader_);
        vertShader_ = 0;
    }
    if (fragShader_) {
        glDeleteShader(fragShader_);
        fragShader_ = 0;
    }
    initialized_ = true;
    return true;
}

void GLProgram::use() {
    glUseProgram(program_);
}

void GLProgram::validate() {
    glValidateProgram(program_);
    GLint length = 0;
    glGetProgramiv(program_, GL_INFO_LOG_LENGTH, &length);
    if (length > 0) {
        std::string log(static_cast<std::size_t>(length), '\0');
        glGetProgramInfoLog(program_, length, &length, log.data());
        log.resize(static_cast<std::size_t>(std::max(length, 0)));
        if (!log.empty()) {
            std::lock_guard lock(logMutex_);
            programLog_ = log;
        }
    }
}

std::optional<std::string> GLProgram::vertexShaderLog() const {
    std::lock_guard lock(logMutex_);
    return vertexShaderLog_;
}
std::optional<std::string> GLProgram::fragmentShaderLog() const {
    std::lock_guard lock(logMutex_);
    return fragmentShaderLog_;
}
std::optional<std::string> GLProgram::programLog() const {
    std::lock_guard lock(logMutex_);
    return programLog_;
}
