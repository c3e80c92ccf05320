#include "foundation/NSXMLParser.h"

#include "foundation/XMLSupport.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace {

using detail::initXML;
using detail::QuietXMLErrors;

std::string str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : std::string();
}
std::string str(const xmlChar* s, int length) {
    return s && length > 0 ? std::string(reinterpret_cast<const char*>(s), static_cast<std::size_t>(length))
                           : std::string();
}

std::string qualified(const xmlChar* prefix, const xmlChar* local) {
    return prefix ? str(prefix) + ":" + str(local) : str(local);
}

}  // namespace

// The backing parser calls these with its context; the parser object rides in _private.
struct NSXMLParser::Callbacks {
    static NSXMLParser& self(void* ctx) {
        return *static_cast<NSXMLParser*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
    }

    // Runs a delegate call; an exception stops the parse and is kept for parse() to rethrow.
    template <class F>
    static void call(void* ctx, F&& f) {
        NSXMLParser& p = self(ctx);
        if (p.aborted_ || p.delegateException_) return;
        auto delegate = p.delegate_.lock();
        if (!delegate) return;
        try {
            f(p, *delegate);
        } catch (...) {
            p.delegateException_ = std::current_exception();
            xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
        }
    }

    static void startDocument(void* ctx) {
        // The document node keeps the entity declarations of the internal subset.
        xmlSAX2StartDocument(ctx);
        call(ctx, [](NSXMLParser& p, NSXMLParserDelegate& d) { d.parserDidStartDocument(p); });
    }

    static void endDocument(void* ctx) {
        // Reported by parse() once the document is known to be well formed.
        (void)ctx;
    }

    static void startElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI,
                             int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int,
                             const xmlChar** attributes) {
        NSXMLParser& p = self(ctx);
        bool ns = p.processNamespaces_;
        Dictionary attrs = Dictionary::mutableDictionary(static_cast<std::size_t>(nbAttributes));
        if (!ns) {
            for (int i = 0; i < nbNamespaces; ++i) {
                const xmlChar* nsPrefix = namespaces[i * 2];
                attrs.setObject(nsPrefix ? "xmlns:" + str(nsPrefix) : std::string("xmlns"),
                                str(namespaces[i * 2 + 1]));
            }
        }
        for (int i = 0; i < nbAttributes; ++i) {
            const xmlChar** a = attributes + i * 5;
            attrs.setObject(qualified(a[1], a[0]), str(a[3], static_cast<int>(a[4] - a[3])));
        }
        std::vector<std::string> prefixes;
        if (ns && p.reportPrefixes_) {
            for (int i = 0; i < nbNamespaces; ++i) prefixes.push_back(str(namespaces[i * 2]));
            for (int i = 0; i < nbNamespaces; ++i) {
                std::string nsPrefix = prefixes[static_cast<std::size_t>(i)];
                std::string uri = str(namespaces[i * 2 + 1]);
                call(ctx, [&](NSXMLParser& q, NSXMLParserDelegate& d) {
                    d.parserDidStartMappingPrefix(q, nsPrefix, uri);
                });
            }
        }
        p.mappedPrefixes_.push_back(std::move(prefixes));
        std::string name = ns ? str(localname) : qualified(prefix, localname);
        std::optional<std::string> uri, qname;
        if (ns) {
            uri = str(URI);
            qname = qualified(prefix, localname);
        }
        call(ctx, [&](NSXMLParser& q, NSXMLParserDelegate& d) {
            d.parserDidStartElement(q, name, uri, qname, attrs);
        });
    }

    static void endElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI) {
        NSXMLParser& p = self(ctx);
        bool ns = p.processNamespaces_;
        std::string name = ns ? str(localname) : qualified(prefix, localname);
        std::optional<std::string> uri, qname;
        if (ns) {
            uri = str(URI);
            qname = qualified(prefix, localname);
        }
        call(ctx,
             [&](NSXMLParser& q, NSXMLParserDelegate& d) { d.parserDidEndElement(q, name, uri, qname); });
        if (!p.mappedPrefixes_.empty()) {
            std::vector<std::string> prefixes = std::move(p.mappedPrefixes_.back());
            p.mappedPrefixes_.pop_back();
            for (auto& nsPrefix : prefixes) {
                call(ctx, [&](NSXMLParser& q, NSXMLParserDelegate& d) {
                    d.parserDidEndMappingPrefix(q, nsPrefix);
                });
            }
        }
    }

    static void characters(void* ctx, const xmlChar* ch, int len) {
        std::string text = str(ch, len);
        call(ctx, [&](NSXMLParser& p, NSXMLParserDelegate& d) { d.parserFoundCharacters(p, text); });
    }

    static void ignorableWhitespace(void* ctx, const xmlChar* ch, int len) {
        std::string text = str(ch, len);
        call(ctx, [&](NSXMLParser& p, NSXMLParserDelegate& d) { d.parserFoundIgnorableWhitespace(p, text); });
    }

    static void cdataBlock(void* ctx, const xmlChar* value, int len) {
        NSData block(value, len > 0 ? static_cast<std::size_t>(len) : 0);
        call(ctx, [&](NSXMLParser& p, NSXMLParserDelegate& d) { d.parserFoundCDATA(p, block); });
    }

    static void comment(void* ctx, const xmlChar* value) {
        std::string text = str(value);
        call(ctx, [&](NSXMLParser& p, NSXMLParserDelegate& d) { d.parserFoundComment(p, text); });
    }

    static void processingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
        std::string t = str(target), v = str(data);
        call(ctx,
             [&](NSXMLParser& p, NSXMLParserDelegate& d) { d.parserFoundProcessingInstruction(p, t, v); });
    }

    // External entities and subsets are never fetched.
    static xmlParserInputPtr resolveEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }

    static void structuredError(void* ctx, xmlErrorPtr error) {
        if (!error || error->level < XML_ERR_ERROR) return;
        NSXMLParser& p = self(ctx);
        if (p.error_ || p.aborted_ || p.delegateException_) return;
        std::string message = error->message ? error->message : "XML error";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        p.setError(error->code, message, error->line, error->int2);
        Ref<NSError> err = p.error_;
        call(ctx, [&](NSXMLParser& q, NSXMLParserDelegate& d) { d.parserParseErrorOccurred(q, err); });
    }
};

NSXMLParser::NSXMLParser(NSData data) : data_(std::move(data)) {}

NSXMLParser::~NSXMLParser() = default;

void NSXMLParser::setError(long code, const std::string& message, long line, long column) {
    error_ = NSError::errorWithDomain(NSXMLParserErrorDomain, code,
                                      Dictionary{{NSLocalizedDescriptionKey, message},
                                                 {NSXMLParserErrorMessageKey, message},
                                                 {NSXMLParserErrorLineNumberKey, line},
                                                 {NSXMLParserErrorColumnNumberKey, column}});
}

long NSXMLParser::lineNumber() const {
    if (context_) return xmlSAX2GetLineNumber(context_);
    return line_;
}

long NSXMLParser::columnNumber() const {
    if (context_) return xmlSAX2GetColumnNumber(context_);
    return column_;
}

void NSXMLParser::abortParsing() {
    if (!context_ || aborted_) return;
    aborted_ = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(context_));
}

bool NSXMLParser::parse() {
    if (context_) return false;  // already parsing
    initXML();
    error_ = nullptr;
    aborted_ = false;
    delegateException_ = nullptr;
    mappedPrefixes_.clear();
    line_ = column_ = 0;

    if (data_.empty()) {
        setError(NSXMLParserEmptyDocumentError, "Document is empty", 1, 0);
        if (auto d = delegate_.lock()) d->parserParseErrorOccurred(*this, error_);
        return false;
    }
    if (data_.length() > static_cast<std::size_t>(INT_MAX)) {
        setError(NSXMLParserOutOfMemoryError, "Document too large", 0, 0);
        return false;
    }
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(reinterpret_cast<const char*>(data_.bytes()),
                                                      static_cast<int>(data_.length()));
    if (!ctxt) {
        setError(NSXMLParserOutOfMemoryError, "Could not create a parser", 0, 0);
        return false;
    }
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);

    auto* sax = static_cast<xmlSAXHandler*>(xmlMalloc(sizeof(xmlSAXHandler)));
    if (!sax) {
        xmlFreeParserCtxt(ctxt);
        setError(NSXMLParserOutOfMemoryError, "Could not create a parser", 0, 0);
        return false;
    }
    std::memset(sax, 0, sizeof(xmlSAXHandler));
    sax->initialized = XML_SAX2_MAGIC;
    sax->startDocument = &Callbacks::startDocument;
    sax->endDocument = &Callbacks::endDocument;
    sax->startElementNs = &Callbacks::startElement;
    sax->endElementNs = &Callbacks::endElement;
    sax->characters = &Callbacks::characters;
    sax->ignorableWhitespace = &Callbacks::ignorableWhitespace;
    sax->cdataBlock = &Callbacks::cdataBlock;
    sax->comment = &Callbacks::comment;
    sax->processingInstruction = &Callbacks::processingInstruction;
    sax->serror = &Callbacks::structuredError;
    // The document's own entity declarations are kept and expanded.
    sax->internalSubset = xmlSAX2InternalSubset;
    sax->entityDecl = xmlSAX2EntityDecl;
    sax->getEntity = xmlSAX2GetEntity;
    sax->getParameterEntity = xmlSAX2GetParameterEntity;
    sax->resolveEntity = &Callbacks::resolveEntity;
    xmlFree(ctxt->sax);
    ctxt->sax = sax;
    ctxt->userData = ctxt;
    ctxt->_private = this;
    ctxt->replaceEntities = 1;
    ctxt->loadsubset = 0;
    ctxt->validate = 0;

    context_ = ctxt;
    QuietXMLErrors quiet;
    // Keep the parser alive through delegate calls that drop the last outside reference.
    Ref<NSObject> keep = weakSelf().lock();
    xmlParseDocument(ctxt);
    line_ = xmlSAX2GetLineNumber(ctxt);
    column_ = xmlSAX2GetColumnNumber(ctxt);
    bool wellFormed = ctxt->wellFormed != 0;
    int errNo = ctxt->errNo;
    context_ = nullptr;
    if (ctxt->myDoc) {
        xmlFreeDoc(ctxt->myDoc);
        ctxt->myDoc = nullptr;
    }
    xmlFreeParserCtxt(ctxt);

    if (delegateException_) {
        auto e = delegateException_;
        delegateException_ = nullptr;
        std::rethrow_exception(e);
    }
    if (aborted_) {
        setError(NSXMLParserDelegateAbortedParseError, "The delegate aborted the parse", line_, column_);
        return false;
    }
    if (!wellFormed || error_) {
        if (!error_) {
            setError(errNo ? static_cast<long>(errNo) : static_cast<long>(NSXMLParserInternalError),
                     "The document is not well formed", line_, column_);
            if (auto d = delegate_.lock()) d->parserParseErrorOccurred(*this, error_);
        }
        return false;
    }
    if (auto d = delegate_.lock()) d->parserDidEndDocument(*this);
    return true;
}
