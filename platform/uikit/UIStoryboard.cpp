#include "uikit/UIStoryboard.h"

#include <map>
#include <mutex>

#include "foundation/NSLog.h"
#include "uikit/UIApplication.h"
#include "uikit/UIControl.h"
#include "uikit/UIScreen.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace {

struct StoryboardEntry {
    std::optional<std::string> initialIdentifier;
    std::map<std::string, UIStoryboard::SceneFactory> scenes;
};

struct Registry {
    std::mutex mutex;
    std::map<std::string, StoryboardEntry> storyboards;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void adoptStoryboard(const Ref<UIViewController>& controller, const Ref<UIStoryboard>& storyboard) {
    if (!controller) return;
    if (!controller->storyboard()) controller->setStoryboard(storyboard);
    for (auto& child : controller->childViewControllers()) adoptStoryboard(child, storyboard);
}

// The key under which the application keeps the main window when its delegate keeps none.
const char kMainWindowKey = 0;

}  // namespace

void UIStoryboard::registerStoryboard(const std::string& name,
                                      const std::optional<std::string>& initialIdentifier) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.storyboards[name].initialIdentifier = initialIdentifier;
}

void UIStoryboard::registerScene(const std::string& storyboardName, const std::string& identifier,
                                 SceneFactory factory) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.storyboards[storyboardName].scenes[identifier] = std::move(factory);
}

bool UIStoryboard::hasStoryboardNamed(const std::string& name) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.storyboards.count(name) != 0;
}

std::vector<std::string> UIStoryboard::sceneIdentifiers(const std::string& storyboardName) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<std::string> identifiers;
    auto it = r.storyboards.find(storyboardName);
    if (it == r.storyboards.end()) return identifiers;
    for (auto& [identifier, factory] : it->second.scenes) identifiers.push_back(identifier);
    return identifiers;
}

void UIStoryboard::unregisterStoryboard(const std::string& name) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.storyboards.erase(name);
}

void UIStoryboard::unregisterAllStoryboards() {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.storyboards.clear();
}

Ref<UIStoryboard> UIStoryboard::storyboardWithName(const std::string& name, const Ref<NSBundle>&) {
    if (!hasStoryboardNamed(name)) {
        NSLog("Could not find a storyboard named '%@'", name);
        return nullptr;
    }
    return make<UIStoryboard>(name);
}

Ref<UIViewController> UIStoryboard::instantiateInitialViewController() {
    std::optional<std::string> initial;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.storyboards.find(name_);
        if (it != r.storyboards.end()) initial = it->second.initialIdentifier;
    }
    if (!initial) {
        NSLog("The storyboard '%@' has no initial view controller", name_);
        return nullptr;
    }
    return instantiateViewControllerWithIdentifier(*initial);
}

Ref<UIViewController> UIStoryboard::instantiateViewControllerWithIdentifier(const std::string& identifier) {
    SceneFactory factory;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.storyboards.find(name_);
        if (it != r.storyboards.end()) {
            auto scene = it->second.scenes.find(identifier);
            if (scene != it->second.scenes.end()) factory = scene->second;
        }
    }
    if (!factory) {
        NSLog("Storyboard '%@' doesn't contain a view controller with identifier '%@'", name_, identifier);
        return nullptr;
    }
    // The factory runs outside the lock: it may instantiate other scenes.
    auto controller = factory(*this);
    if (!controller) {
        NSLog("The scene '%@' of storyboard '%@' made no view controller", identifier, name_);
        return nullptr;
    }
    adoptStoryboard(controller, std::static_pointer_cast<UIStoryboard>(shared_from_this()));
    return controller;
}

bool UIStoryboard::triggerSegue(const Ref<UIViewController>& source, const std::string& identifier,
                                const Ref<NSObject>& sender) {
    if (!source) return false;
    if (!source->shouldPerformSegueWithIdentifier(identifier, sender)) return false;
    if (!source->segueDeclaration(identifier)) {
        NSLog("%@ has no segue with identifier '%@'", source->className(), identifier);
        return false;
    }
    source->performSegueWithIdentifier(identifier, sender);
    return true;
}

void UIStoryboard::bindSegueToControl(const Ref<UIViewController>& source, const Ref<UIControl>& control,
                                      const std::string& identifier, UIControlEvents events) {
    if (!source || !control) return;
    Weak<UIViewController> weakSource = source;
    control->addTarget(
        source,
        [weakSource, identifier](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
            if (auto s = weakSource.lock()) triggerSegue(s, identifier, sender);
        },
        "performSegue:" + identifier, events);
}

void UIStoryboardInstallMainStoryboardLoader() {
    UIApplication::setMainStoryboardLoader([](UIApplication& application) -> Ref<UIWindow> {
        Value name = NSBundle::mainBundle()->objectForInfoDictionaryKey("UIMainStoryboardFile");
        if (!name.isString() || name.string()->empty()) return nullptr;
        auto storyboard = UIStoryboard::storyboardWithName(*name.string(), NSBundle::mainBundle());
        if (!storyboard) return nullptr;
        auto window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        window->setRootViewController(storyboard->instantiateInitialViewController());
        auto delegate = application.delegate();
        if (delegate) delegate->setWindow(window);
        if (!delegate || delegate->window() != window) {
            application.setAssociatedObject(&kMainWindowKey, Value(window));
            window->makeKeyAndVisible();
        }
        return window;
    });
}
