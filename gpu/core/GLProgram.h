#pragma once
// One OpenGL ES 2 program built from a vertex and a fragment shader text (GLSL ES 1.00).
//
// Filters do not make programs themselves: they ask their context's program cache, which makes a
// program on a miss (compiled, not linked). The first filter to use it registers its attribute
// names (each name's location is its registration index), links, and looks up its uniforms;
// later filters with the same texts find it linked and use the locations bound then.
//
// Every call runs on the context's queue with the context current. A program deletes its GL
// objects on that queue when it goes.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "gles/GLThreadQueue.h"
#include "gles/OpenGLES.h"

class GPXContext;

// Names a shader resource of the main bundle: "<name>.vsh" for a vertex shader, "<name>.fsh" for a
// fragment shader (UTF-8 text).
struct GLShaderFilename {
    std::string name;
};

class GLProgram : public NSObject {
  public:
    GLProgram(const std::string& vertexShaderString, const std::string& fragmentShaderString);
    // A missing resource is a missing text: it is logged and the program will not link.
    GLProgram(const std::string& vertexShaderString, const GLShaderFilename& fragmentShaderFilename);
    GLProgram(const GLShaderFilename& vertexShaderFilename, const GLShaderFilename& fragmentShaderFilename);
    ~GLProgram() override;

    // The text of a main-bundle shader resource with the extension ("vsh", "fsh"); nullopt when
    // missing or unreadable.
    static std::optional<std::string> shaderTextFromResource(const std::string& name,
                                                             const std::string& extension);

    // Registers the attribute at the next location (its index); a second registration is ignored.
    // Takes effect at link.
    void addAttribute(const std::string& attributeName);
    // The location bound for a registered name; GLuint(-1) for a name never registered.
    GLuint attributeIndex(const std::string& attributeName) const;
    // The uniform's location, -1 when the name is not an active uniform.
    GLuint uniformIndex(const std::string& uniformName) const;
    // YES on success, after which the shader objects are deleted.
    bool link();
    void use();
    void validate();

    bool initialized() const { return initialized_; }
    GLuint program() const { return program_; }
    GLuint vertShader() const { return vertShader_; }
    GLuint fragShader() const { return fragShader_; }
    const std::vector<std::string>& attributes() const { return attributes_; }
    // Compiler and linker messages, kept for diagnosis; empty when there were none.
    std::optional<std::string> vertexShaderLog() const;
    std::optional<std::string> fragmentShaderLog() const;
    std::optional<std::string> programLog() const;

    std::string className() const override { return "GLProgram"; }

  private:
    bool compileShader(GLuint* shader, GLenum type, const std::optional<std::string>& source);
    void build(const std::optional<std::string>& vertex, const std::optional<std::string>& fragment);

    std::vector<std::string> attributes_;
    std::vector<std::string> uniforms_;
    GLuint program_ = 0;
    GLuint vertShader_ = 0;
    GLuint fragShader_ = 0;
    bool initialized_ = false;
    mutable std::mutex logMutex_;
    std::optional<std::string> vertexShaderLog_, fragmentShaderLog_, programLog_;
    // Where the GL objects live: the queue that made them, and its context while it lasts.
    GLThreadQueue* queue_ = nullptr;
    Weak<GPXContext> context_;
};
