#pragma once
// An event-driven XML reader: parse() walks the document once and tells the delegate what it
// meets (document start and end, elements with their attributes, text, CDATA, comments,
// processing instructions, namespace mappings), then answers whether the document was well
// formed. It is made over data and does nothing until parse() is called.
//
// The document's own internal entities are expanded; external entities and DTDs are never
// loaded (no file or network access, whatever shouldResolveExternalEntities says). Nesting
// beyond the backing library's limit (256 levels) is an error. An exception thrown by the
// delegate stops the parse and is rethrown from parse() once the parser has cleaned up.
//
// The delegate is held weakly and is consulted on the thread that calls parse().

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

inline constexpr char NSXMLParserErrorDomain[] = "NSXMLParserErrorDomain";
// User-info keys of a parse error.
inline constexpr char NSXMLParserErrorLineNumberKey[] = "NSXMLParserErrorLineNumber";
inline constexpr char NSXMLParserErrorColumnNumberKey[] = "NSXMLParserErrorColumnNumber";
inline constexpr char NSXMLParserErrorMessageKey[] = "NSXMLParserErrorMessage";

// Error codes: the backing parser's own error numbers, plus these.
enum : long {
    NSXMLParserInternalError = 1,
    NSXMLParserOutOfMemoryError = 2,
    NSXMLParserDocumentStartError = 3,
    NSXMLParserEmptyDocumentError = 4,
    NSXMLParserPrematureDocumentEndError = 5,
    NSXMLParserDelegateAbortedParseError = 512,
};

class NSXMLParser;

// Every method is optional.
class NSXMLParserDelegate {
  public:
    virtual ~NSXMLParserDelegate() = default;

    virtual void parserDidStartDocument(NSXMLParser& parser) {}
    virtual void parserDidEndDocument(NSXMLParser& parser) {}
    // Without namespace processing the element name is the qualified name as written and the
    // namespace URI and qualified name are absent; with it, the element name is the local name.
    // Attribute keys are qualified names; without namespace processing namespace declarations
    // ("xmlns", "xmlns:p") are attributes too.
    virtual void parserDidStartElement(NSXMLParser& parser, const std::string& elementName,
                                       const std::optional<std::string>& namespaceURI,
                                       const std::optional<std::string>& qualifiedName,
                                       const Dictionary& attributes) {}
    virtual void parserDidEndElement(NSXMLParser& parser, const std::string& elementName,
                                     const std::optional<std::string>& namespaceURI,
                                     const std::optional<std::string>& qualifiedName) {}
    // Only with both namespace processing and prefix reporting on; the default namespace has
    // the empty prefix.
    virtual void parserDidStartMappingPrefix(NSXMLParser& parser, const std::string& prefix,
                                             const std::string& namespaceURI) {}
    virtual void parserDidEndMappingPrefix(NSXMLParser& parser, const std::string& prefix) {}
    // Text may arrive in several pieces.
    virtual void parserFoundCharacters(NSXMLParser& parser, const std::string& string) {}
    virtual void parserFoundIgnorableWhitespace(NSXMLParser& parser, const std::string& whitespace) {}
    virtual void parserFoundProcessingInstruction(NSXMLParser& parser, const std::string& target,
                                                  const std::string& data) {}
    virtual void parserFoundComment(NSXMLParser& parser, const std::string& comment) {}
    virtual void parserFoundCDATA(NSXMLParser& parser, const NSData& block) {}
    virtual void parserParseErrorOccurred(NSXMLParser& parser, const Ref<NSError>& error) {}
};

class NSXMLParser : public NSObject {
  public:
    explicit NSXMLParser(NSData data);
    ~NSXMLParser() override;

    const NSData& data() const { return data_; }

    Ref<NSXMLParserDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(Weak<NSXMLParserDelegate> delegate) { delegate_ = std::move(delegate); }

    bool shouldProcessNamespaces() const { return processNamespaces_; }
    void setShouldProcessNamespaces(bool value) { processNamespaces_ = value; }
    bool shouldReportNamespacePrefixes() const { return reportPrefixes_; }
    void setShouldReportNamespacePrefixes(bool value) { reportPrefixes_ = value; }
    // Recorded only: external entities are never loaded.
    bool shouldResolveExternalEntities() const { return resolveExternal_; }
    void setShouldResolveExternalEntities(bool value) { resolveExternal_ = value; }

    // Reads the whole document; true when it was well formed and not aborted. A second call
    // parses again; a call from inside a delegate method answers false.
    bool parse();
    // Stops a parse in progress from a delegate method; parse() then answers false with
    // NSXMLParserDelegateAbortedParseError.
    void abortParsing();
    // The error of the last parse, nullptr after a successful one.
    Ref<NSError> parserError() const { return error_; }

    // Position of the parse (1-based), valid from delegate methods; after a parse, where it
    // stopped.
    long lineNumber() const;
    long columnNumber() const;

    std::string className() const override { return "NSXMLParser"; }

    // Called by the backing parser's callbacks.
    struct Callbacks;

  private:
    void setError(long code, const std::string& message, long line, long column);

    NSData data_;
    Weak<NSXMLParserDelegate> delegate_;
    bool processNamespaces_ = false;
    bool reportPrefixes_ = false;
    bool resolveExternal_ = false;
    Ref<NSError> error_;

    void* context_ = nullptr;  // the backing parser while parsing
    bool aborted_ = false;
    long line_ = 0;
    long column_ = 0;
    std::vector<std::vector<std::string>> mappedPrefixes_;
    std::exception_ptr delegateException_;
};
