#include "coredata/NSFetchRequest.h"

#include "coredata/NSManagedObjectContext.h"

Ref<NSExpression> NSExpression::expressionForKeyPath(std::string keyPath) {
    auto e = make<NSExpression>();
    e->kind_ = Kind::KeyPath;
    e->keyPath_ = std::move(keyPath);
    return e;
}

Ref<NSExpression> NSExpression::expressionForConstantValue(Value value) {
    auto e = make<NSExpression>();
    e->kind_ = Kind::Constant;
    e->constant_ = std::move(value);
    return e;
}

Ref<NSExpression> NSExpression::expressionForFunction(const std::string& function,
                                                      std::vector<Ref<NSExpression>> arguments) {
    static const char* const known[] = {"sum:", "min:", "max:", "average:", "count:"};
    bool ok = false;
    for (const char* k : known) ok = ok || function == k;
    if (!ok) return nullptr;
    auto e = make<NSExpression>();
    e->kind_ = Kind::Function;
    e->function_ = function;
    e->arguments_ = std::move(arguments);
    return e;
}

std::string NSExpression::description() const {
    switch (kind_) {
        case Kind::KeyPath:
            return keyPath_;
        case Kind::Constant:
            return constant_.description();
        case Kind::Function: {
            std::string text = function_ + "(";
            for (std::size_t i = 0; i < arguments_.size(); ++i)
                text += (i ? ", " : "") + (arguments_[i] ? arguments_[i]->description() : std::string("nil"));
            return text + ")";
        }
    }
    return std::string();
}

Ref<NSFetchRequest> NSFetchRequest::fetchRequestWithEntityName(const std::string& entityName) {
    auto request = make<NSFetchRequest>();
    request->entityName_ = entityName;
    return request;
}

void NSFetchRequest::setEntity(Ref<NSEntityDescription> entity) {
    entity_ = std::move(entity);
    if (entity_) entityName_ = entity_->name();
}

std::string NSFetchRequest::description() const {
    return "<NSFetchRequest: (entity: " + entityName_ + "; predicate: (" +
           (predicate_ ? predicate_->predicateFormat() : std::string("null")) +
           "); limit: " + std::to_string(fetchLimit_) + ")>";
}

NSFetchedResultsController::NSFetchedResultsController(Ref<NSFetchRequest> request,
                                                       Ref<NSManagedObjectContext> context,
                                                       std::optional<std::string> sectionNameKeyPath,
                                                       std::optional<std::string> cacheName)
    : request_(std::move(request)),
      context_(std::move(context)),
      sectionNameKeyPath_(std::move(sectionNameKeyPath)),
      cacheName_(std::move(cacheName)) {}

bool NSFetchedResultsController::performFetch(Ref<NSError>* error) {
    if (!context_) {
        if (error) *error = NSError::errorWithDomain(NSCocoaErrorDomain, 134070);
        return false;
    }
    auto result = context_->executeFetchRequest(request_, error);
    if (!result) return false;
    fetched_ = *result;
    sections_.clear();
    for (const Value& v : fetched_) {
        std::string name;
        if (sectionNameKeyPath_) {
            auto o = v.objectAs<NSManagedObject>();
            name = o ? o->valueForKeyPath(*sectionNameKeyPath_).stringValue() : std::string();
        }
        if (sections_.empty() || sections_.back().name != name)
            sections_.push_back({name, Array::mutableArray()});
        sections_.back().objects.addObject(v);
    }
    return true;
}
