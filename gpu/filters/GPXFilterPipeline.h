#pragma once
// A chain of filters between a producer and a consumer, rewired whenever the list changes. The
// list is given directly or described by a configuration: a dictionary (or a property-list file
// holding one) whose "Filters" array names each filter's class ("FilterName") and the setter calls
// to make on it ("Attributes": setter name to an argument text, or to an array of them).
//
// Argument texts are a type word and parenthesised values: float(0.5), CGPoint(0.25, 0.75),
// NSString(text). A setter name without a trailing ":" is called without an argument.
//
// Class and setter names are resolved against a table of the filters this library provides. An
// unknown class or setter, an argument of another type word or one the setter does not take, or a
// configuration without "Filters" fails the whole parse: "Sorry, a parsing error occurred." is
// logged and no pipeline is made.

#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "gpu/core/GPXOutput.h"

class GPXFilterPipeline : public NSObject {
  public:
    GPXFilterPipeline(std::vector<Ref<GPXOutput>> filters, const Ref<GPXOutput>& input,
                      const Ref<GPXInput>& output);

    // nullptr (after the log) when the configuration does not parse.
    static Ref<GPXFilterPipeline> pipelineWithConfiguration(const Value& configuration,
                                                            const Ref<GPXOutput>& input,
                                                            const Ref<GPXInput>& output);
    // A property-list file whose root is the configuration dictionary.
    static Ref<GPXFilterPipeline> pipelineWithConfigurationFile(const Ref<NSURL>& configurationFile,
                                                                const Ref<GPXOutput>& input,
                                                                const Ref<GPXInput>& output);

    // Builds the configuration's filters; on success they replace the list (without rewiring).
    bool parseConfiguration(const Value& configuration);

    void addFilter(const Ref<GPXOutput>& filter, std::size_t insertIndex);
    void addFilter(const Ref<GPXOutput>& filter);
    void replaceFilterAtIndex(std::size_t index, const Ref<GPXOutput>& filter);
    void removeFilter(const Ref<GPXOutput>& filter);
    void removeFilterAtIndex(std::size_t index);
    void removeAllFilters();
    void replaceAllFilters(std::vector<Ref<GPXOutput>> newFilters);
    // Chains input, filters and output anew; every other target of the input and the filters goes.
    void refreshFilters();

    Ref<UIImage> currentFilteredFrame();
    Ref<UIImage> currentFilteredFrameWithOrientation(UIImageOrientation imageOrientation);
    CGImageRef newCGImageFromCurrentFilteredFrame();

    std::vector<Ref<GPXOutput>> filters() const;
    void setFilters(std::vector<Ref<GPXOutput>> filters);
    Ref<GPXOutput> input() const;
    void setInput(const Ref<GPXOutput>& input);
    Ref<GPXInput> output() const;
    void setOutput(const Ref<GPXInput>& output);
    // The last text argument a configuration passed.
    std::string stringValue() const;

    std::string className() const override { return "GPXFilterPipeline"; }

  private:
    Ref<GPXOutput> lastFilter() const;

    mutable std::mutex mutex_;  // guards the fields below
    std::vector<Ref<GPXOutput>> filters_;
    Ref<GPXOutput> input_;
    Ref<GPXInput> output_;
    std::string stringValue_;
};

namespace detail {

// A configuration read without making anything: what the parse would build and call.
using PipelineScalar = std::variant<double, CGPoint, std::string>;
using PipelineArgument =
    std::variant<std::monostate, double, CGPoint, std::string, std::vector<PipelineScalar>>;
struct PipelineCall {
    std::string setter;
    PipelineArgument argument;
};
struct PipelineFilterEntry {
    std::string filterName;
    std::vector<PipelineCall> calls;
};
// nullopt when the configuration would not parse (no "Filters", an unknown class or setter, an
// argument text of another type word, an argument the setter does not take).
std::optional<std::vector<PipelineFilterEntry>> readPipelineConfiguration(const Value& configuration);
// The parts of an argument text such as "CGPoint(0.25, 0.75)": its type word, the text up to the
// first "," or ")", and the text after the last ", " before the ")" (empty with no ","). It follows
// the pattern (float|CGPoint|NSString)\((.*?)(?:,\s*(.*?))*\) exactly, found anywhere in the text,
// in time linear in the text.
struct PipelineArgumentParts {
    std::string type, first, last;
};
std::optional<PipelineArgumentParts> matchPipelineArgumentText(const std::string& text);
// One argument text by the pattern; nullopt for another type word or no match.
std::optional<PipelineScalar> parsePipelineArgumentText(const std::string& text);
// The filter classes a configuration can name.
std::vector<std::string> pipelineFilterNames();

}  // namespace detail
