// Text fields and text views: typing through the delegate's questions (refusals included),
// reports in order, composed characters, the keyboard's notifications and editing life cycle.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"
#include "graphics/NSValue+Geometry.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"
#include "uikit/UIWindow.h"

namespace {

using testsupport::ManualClock;

// A field delegate that logs every question and answers from settable rules.
class FieldDelegate : public NSObject, public UITextFieldDelegate {
  public:
    std::vector<std::string> log;
    bool allowBegin = true, allowEnd = true, allowReturn = true, allowClear = true;
    std::function<bool(NSRange, const std::string&)> allowChange;

    std::optional<bool> textFieldShouldBeginEditing(UITextField&) override {
        log.push_back("shouldBegin");
        return allowBegin;
    }
    void textFieldDidBeginEditing(UITextField&) override { log.push_back("didBegin"); }
    std::optional<bool> textFieldShouldEndEditing(UITextField&) override {
        log.push_back("shouldEnd");
        return allowEnd;
    }
    void textFieldDidEndEditing(UITextField&) override { log.push_back("didEnd"); }
    std::optional<bool> textFieldShouldChangeCharactersInRange(UITextField& field, NSRange range,
                                                               const std::string& string) override {
        log.push_back("change " + NSStringFromRange(range) + " '" + string + "' over '" + field.text() + "'");
        return allowChange ? std::optional<bool>(allowChange(range, string)) : std::nullopt;
    }
    std::optional<bool> textFieldShouldClear(UITextField&) override {
        log.push_back("shouldClear");
        return allowClear;
    }
    std::optional<bool> textFieldShouldReturn(UITextField&) override {
        log.push_back("shouldReturn");
        return allowReturn;
    }
};

class TextEntryTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        UITextEntryDriver::reset();
        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->setHidden(false);
        field = make<UITextField>(CGRectMake(10, 10, 200, 30));
        window->addSubview(field);
        delegate = make<FieldDelegate>();
        field->setDelegate(delegate);
        auto center = NSNotificationCenter::defaultCenter();
        for (const char* name :
             {UITextFieldTextDidBeginEditingNotification, UITextFieldTextDidChangeNotification,
              UITextFieldTextDidEndEditingNotification, UIKeyboardWillShowNotification,
              UIKeyboardDidShowNotification, UIKeyboardWillHideNotification, UIKeyboardDidHideNotification,
              UITextViewTextDidChangeNotification}) {
            tokens.push_back(
                center->addObserverForName(name, nullptr, nullptr, [this](const Ref<NSNotification>& n) {
                    posted.push_back(n->name());
                    if (n->userInfo()) lastUserInfo = *n->userInfo();
                }));
        }
    }
    void TearDown() override {
        for (auto& t : tokens) NSNotificationCenter::defaultCenter()->removeObserver(t);
        window->setHidden(true);
        UITextEntryDriver::reset();
        UITextField::appearance().reset();
        UITextView::appearance().reset();
        UIKitTest::TearDown();
    }
    std::vector<std::string> postedOnly(const std::string& part) const {
        std::vector<std::string> out;
        for (auto& p : posted) {
            if (p.find(part) != std::string::npos) out.push_back(p);
        }
        return out;
    }

    Ref<UIWindow> window;
    Ref<UITextField> field;
    Ref<FieldDelegate> delegate;
    std::vector<Ref<NSObject>> tokens;
    std::vector<std::string> posted;
    Dictionary lastUserInfo;
};

TEST_F(TextEntryTest, TypingAsksBeforeEachCharacterAndARefusalKeepsTheText) {
    // No digits allowed.
    delegate->allowChange = [](NSRange, const std::string& s) {
        return s.find_first_of("0123456789") == std::string::npos;
    };
    std::vector<std::string> changes;
    field->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { changes.push_back(field->text()); },
        UIControlEventEditingChanged);
    EXPECT_EQ(UITextEntryDriver::typeText(field, "a1b"), 2u);
    EXPECT_EQ(field->text(), "ab");
    EXPECT_EQ(changes, (std::vector<std::string>{"a", "ab"}));
    EXPECT_EQ(postedOnly("TextDidChange").size(), 2u);
    std::vector<std::string> questions;
    for (auto& l : delegate->log) {
        if (l.rfind("change", 0) == 0) questions.push_back(l);
    }
    EXPECT_EQ(questions, (std::vector<std::string>{"change {0, 0} 'a' over ''", "change {1, 0} '1' over 'a'",
                                                   "change {1, 0} 'b' over 'a'"}));
    EXPECT_EQ(field->selectedRange().location, 2u);
}

TEST_F(TextEntryTest, RangesCountUTF16AndCharactersAreComposedSequences) {
    std::vector<std::string> offered;
    delegate->allowChange = [&](NSRange, const std::string& s) {
        offered.push_back(s);
        return true;
    };
    // An emoji outside the basic plane (two units), a flag (four units) and e + combining acute.
    EXPECT_EQ(UITextEntryDriver::typeText(field, "😀🇨🇳e\u0301x"), 4u);
    EXPECT_EQ(offered, (std::vector<std::string>{"😀", "🇨🇳", "e\u0301", "x"}));
    EXPECT_EQ(NSString::length(field->text()), 2u + 4u + 2u + 1u);
    EXPECT_EQ(delegate->log.back(), "change {8, 0} 'x' over '😀🇨🇳e\u0301'");
    // Deleting removes whole sequences, asking with their UTF-16 range.
    EXPECT_TRUE(UITextEntryDriver::deleteBackward(field));  // x
    EXPECT_TRUE(UITextEntryDriver::deleteBackward(field));  // e + accent
    EXPECT_EQ(delegate->log.back(), "change {6, 2} '' over '😀🇨🇳e\u0301'");
    EXPECT_TRUE(UITextEntryDriver::deleteBackward(field));
    EXPECT_EQ(field->text(), "😀");
    EXPECT_TRUE(UITextEntryDriver::deleteBackward(field));
    EXPECT_FALSE(UITextEntryDriver::deleteBackward(field));  // nothing left
    EXPECT_EQ(field->text(), "");
}

TEST_F(TextEntryTest, ARefusedDeletionKeepsTheText) {
    field->setText(std::string("abc"));
    delegate->allowChange = [](NSRange, const std::string& s) { return !s.empty(); };
    EXPECT_FALSE(UITextEntryDriver::deleteBackward(field));
    EXPECT_EQ(field->text(), "abc");
}

TEST_F(TextEntryTest, TheSelectionIsReplacedAndPastesAreOneQuestion) {
    field->setText(std::string("hello world"));
    ASSERT_TRUE(UITextEntryDriver::selectRange(field, NSMakeRange(6, 5)));
    EXPECT_TRUE(UITextEntryDriver::insertText(field, "车友"));
    EXPECT_EQ(field->text(), "hello 车友");
    EXPECT_EQ(field->selectedRange(), NSMakeRange(8, 0));
    EXPECT_EQ(delegate->log.back(), "change {6, 5} '车友' over 'hello world'");
    EXPECT_TRUE(UITextEntryDriver::replaceRange(field, NSMakeRange(0, 100), "x"));  // cut to the text
    EXPECT_EQ(field->text(), "x");
    EXPECT_EQ(delegate->log.back(), "change {0, 8} 'x' over 'hello 车友'");
}

TEST_F(TextEntryTest, ADelegateThatRewritesTheTextItselfAndRefuses) {
    // A common pattern: the delegate formats the text and answers no.
    delegate->allowChange = [this](NSRange, const std::string& s) {
        field->setText(field->text() + s + s);
        return false;
    };
    UITextEntryDriver::typeText(field, "ab");
    EXPECT_EQ(field->text(), "aabb");
    EXPECT_TRUE(postedOnly("TextDidChange").empty());  // code changes are not reported
}

TEST_F(TextEntryTest, CodeChangesAskAndTellNoOne) {
    field->setText(std::string("set"));
    EXPECT_EQ(field->text(), "set");
    field->setText(std::nullopt);
    EXPECT_EQ(field->text(), "");
    EXPECT_TRUE(delegate->log.empty());
    EXPECT_TRUE(posted.empty());
}

TEST_F(TextEntryTest, EditingLifeCycleInOrder) {
    std::vector<std::string> events;
    field->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { events.push_back("begin"); },
        UIControlEventEditingDidBegin);
    field->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { events.push_back("end"); },
        UIControlEventEditingDidEnd);
    ASSERT_TRUE(field->becomeFirstResponder());
    EXPECT_TRUE(field->isEditing());
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"shouldBegin", "didBegin"}));
    EXPECT_EQ(posted, (std::vector<std::string>{UITextFieldTextDidBeginEditingNotification,
                                                UIKeyboardWillShowNotification}));
    ASSERT_TRUE(field->resignFirstResponder());
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"shouldBegin", "didBegin", "shouldEnd", "didEnd"}));
    EXPECT_EQ(events, (std::vector<std::string>{"begin", "end"}));
    EXPECT_EQ(postedOnly("EndEditing").size(), 1u);
    EXPECT_EQ(postedOnly("WillHide").size(), 1u);
}

TEST_F(TextEntryTest, RefusalsOfBeginAndEnd) {
    delegate->allowBegin = false;
    EXPECT_FALSE(field->becomeFirstResponder());
    EXPECT_EQ(UITextEntryDriver::typeText(field, "abc"), 0u);
    EXPECT_EQ(field->text(), "");
    EXPECT_FALSE(UITextEntryDriver::isKeyboardVisible());
    delegate->allowBegin = true;
    ASSERT_TRUE(field->becomeFirstResponder());
    delegate->allowEnd = false;
    EXPECT_FALSE(field->resignFirstResponder());
    EXPECT_TRUE(field->isEditing());
    EXPECT_TRUE(UITextEntryDriver::isKeyboardVisible());
}

TEST_F(TextEntryTest, FieldsOutsideAWindowOrDisabledCannotEdit) {
    auto loose = make<UITextField>(CGRectMake(0, 0, 100, 30));
    EXPECT_EQ(UITextEntryDriver::typeText(loose, "x"), 0u);
    EXPECT_FALSE(loose->insertText("x"));  // not editing: refused without asking
    field->setEnabled(false);
    EXPECT_FALSE(field->becomeFirstResponder());
    EXPECT_TRUE(delegate->log.empty());
}

TEST_F(TextEntryTest, KeyboardNotificationsCarryFramesDurationAndCurve) {
    ManualClock clock;
    auto accessory = make<UIView>(CGRectMake(0, 0, 320, 44));
    field->setInputAccessoryView(accessory);
    ASSERT_TRUE(UITextEntryDriver::focus(field));
    const CGFloat screenHeight = UIScreen::mainScreen()->bounds().size.height;
    const CGFloat height = 216 + 44;
    auto begin =
        NSValue_Geometry::CGRectValue(lastUserInfo[UIKeyboardFrameBeginUserInfoKey].objectAs<NSValue>());
    auto end = NSValue_Geometry::CGRectValue(lastUserInfo[UIKeyboardFrameEndUserInfoKey].objectAs<NSValue>());
    EXPECT_RECT(begin, 0, screenHeight, UIScreen::mainScreen()->bounds().size.width, height);
    EXPECT_RECT(end, 0, screenHeight - height, UIScreen::mainScreen()->bounds().size.width, height);
    EXPECT_DOUBLE_EQ(lastUserInfo[UIKeyboardAnimationDurationUserInfoKey].doubleValue(), 0.25);
    EXPECT_EQ(lastUserInfo[UIKeyboardAnimationCurveUserInfoKey].intValue(), 7);
    EXPECT_TRUE(postedOnly("DidShow").empty());  // after the animation
    clock.advance(0.2);
    EXPECT_TRUE(postedOnly("DidShow").empty()) << "early";
    clock.advance(0.05);
    EXPECT_EQ(postedOnly("DidShow").size(), 1u);
    EXPECT_EQ(UITextEntryDriver::keyboardFrame(), end);

    field->resignFirstResponder();
    auto hideEnd =
        NSValue_Geometry::CGRectValue(lastUserInfo[UIKeyboardFrameEndUserInfoKey].objectAs<NSValue>());
    EXPECT_DOUBLE_EQ(hideEnd.origin.y, screenHeight);
    clock.advance(0.25);
    EXPECT_EQ(postedOnly("DidHide").size(), 1u);
    EXPECT_FALSE(UITextEntryDriver::isKeyboardVisible());
}

TEST_F(TextEntryTest, MovingBetweenFieldsKeepsTheKeyboardUp) {
    ManualClock clock;
    auto other = make<UITextField>(CGRectMake(10, 50, 200, 30));
    window->addSubview(other);
    UITextEntryDriver::setKeyboardHeight(250);
    ASSERT_TRUE(UITextEntryDriver::focus(field));
    ASSERT_TRUE(UITextEntryDriver::focus(other));
    EXPECT_FALSE(field->isEditing());
    EXPECT_TRUE(other->isEditing());
    EXPECT_TRUE(postedOnly("Hide").empty());
    EXPECT_EQ(postedOnly("WillShow").size(), 2u);
    clock.advance(1);
    EXPECT_EQ(postedOnly("DidShow").size(), 1u);  // the first one's did-show was overtaken
    EXPECT_DOUBLE_EQ(UITextEntryDriver::keyboardFrame().size.height, 250);
}

TEST_F(TextEntryTest, ARefusedHandOverKeepsTheFirstFieldAndTheKeyboard) {
    auto other = make<UITextField>(CGRectMake(10, 50, 200, 30));
    window->addSubview(other);
    ASSERT_TRUE(UITextEntryDriver::focus(field));
    // The editing field refuses to end, so the other cannot take over.
    delegate->allowEnd = false;
    EXPECT_FALSE(UITextEntryDriver::focus(other));
    EXPECT_TRUE(field->isEditing());
    EXPECT_TRUE(UITextEntryDriver::isKeyboardVisible());
}

TEST_F(TextEntryTest, ReturnKeyAsksAndEndsOnExit) {
    int exits = 0;
    UITextEntryDriver::typeText(field, "go");
    delegate->allowReturn = false;
    EXPECT_FALSE(UITextEntryDriver::pressReturn(field));
    EXPECT_TRUE(field->isEditing());
    delegate->allowReturn = true;
    EXPECT_TRUE(UITextEntryDriver::pressReturn(field));
    EXPECT_TRUE(field->isEditing());  // nobody listens for end-on-exit: stays
    field->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { ++exits; },
        UIControlEventEditingDidEndOnExit);
    EXPECT_TRUE(UITextEntryDriver::pressReturn(field));
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(field->isEditing());
}

TEST_F(TextEntryTest, ClearButtonFollowsItsModeAndAsks) {
    field->setClearButtonMode(UITextFieldViewModeWhileEditing);
    field->setText(std::string("abc"));
    EXPECT_FALSE(field->isClearButtonShowing());
    UITextEntryDriver::focus(field);
    EXPECT_TRUE(field->isClearButtonShowing());
    delegate->allowClear = false;
    EXPECT_FALSE(UITextEntryDriver::pressClearButton(field));
    EXPECT_EQ(field->text(), "abc");
    delegate->allowClear = true;
    EXPECT_TRUE(UITextEntryDriver::pressClearButton(field));
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(postedOnly("TextDidChange").size(), 1u);
    EXPECT_FALSE(field->isClearButtonShowing());
}

TEST_F(TextEntryTest, ClearsOnBeginEditingAndSecureText) {
    field->setText(std::string("secret"));
    field->setSecureTextEntry(true);
    EXPECT_EQ(field->displayedText(), "••••••");
    field->setClearsOnBeginEditing(true);
    UITextEntryDriver::focus(field);
    EXPECT_EQ(field->text(), "");
}

TEST_F(TextEntryTest, EndEditingOnTheWindowResigns) {
    UITextEntryDriver::focus(field);
    EXPECT_TRUE(window->endEditing(false));
    EXPECT_FALSE(field->isEditing());
    EXPECT_FALSE(UITextEntryDriver::isKeyboardVisible());
}

TEST_F(TextEntryTest, ATextFieldLeavingTheWindowStopsEditing) {
    UITextEntryDriver::focus(field);
    field->removeFromSuperview();
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(UITextEntryDriver::typeText(field, "x"), 0u);
}

TEST_F(TextEntryTest, AppearanceTintReachesNewFieldsAndViews) {
    UITextField::appearance().setTintColor(UIColor::redColor());
    UITextView::appearance().setTintColor(UIColor::redColor());
    EXPECT_TRUE(make<UITextField>()->tintColor()->isEqual(*UIColor::redColor()));
    EXPECT_TRUE(make<UITextView>()->tintColor()->isEqual(*UIColor::redColor()));
    EXPECT_FALSE(field->tintColor()->isEqual(*UIColor::redColor()));  // made before
}

// ---- text views -------------------------------------------------------------------------------

class ViewDelegate : public NSObject, public UITextViewDelegate {
  public:
    std::vector<std::string> log;
    std::function<bool(NSRange, const std::string&)> allowChange;
    std::optional<bool> textViewShouldBeginEditing(UITextView&) override {
        log.push_back("shouldBegin");
        return std::nullopt;
    }
    void textViewDidBeginEditing(UITextView&) override { log.push_back("didBegin"); }
    std::optional<bool> textViewShouldChangeTextInRange(UITextView&, NSRange range,
                                                        const std::string& text) override {
        log.push_back("change " + NSStringFromRange(range) + " '" + text + "'");
        return allowChange ? std::optional<bool>(allowChange(range, text)) : std::nullopt;
    }
    void textViewDidChange(UITextView& v) override { log.push_back("didChange '" + v.text() + "'"); }
    void textViewDidChangeSelection(UITextView&) override { log.push_back("selection"); }
    void scrollViewDidScroll(UIScrollView&) override { log.push_back("scroll"); }
};

TEST_F(TextEntryTest, TextViewTypingReturnAsNewlineAndRefusal) {
    auto textView = make<UITextView>(CGRectMake(0, 100, 200, 100));
    window->addSubview(textView);
    auto d = make<ViewDelegate>();
    textView->setDelegate(d);
    // "Return sends": the delegate refuses the line break.
    d->allowChange = [](NSRange, const std::string& text) { return text != "\n"; };
    EXPECT_EQ(UITextEntryDriver::typeText(textView, "hi"), 2u);
    EXPECT_FALSE(UITextEntryDriver::pressReturn(textView));
    EXPECT_EQ(textView->text(), "hi");
    EXPECT_EQ(d->log, (std::vector<std::string>{"shouldBegin", "didBegin", "change {0, 0} 'h'", "selection",
                                                "didChange 'h'", "change {1, 0} 'i'", "selection",
                                                "didChange 'hi'", "change {2, 0} '\n'"}));
    EXPECT_EQ(postedOnly("TextViewTextDidChange").size(), 2u);
    // The scroll-view side of the delegate is served too.
    textView->setContentOffset(CGPointMake(0, 3));
    EXPECT_EQ(d->log.back(), "scroll");
}

TEST_F(TextEntryTest, TextViewContentSizeFollowsTheText) {
    ASSERT_TRUE(TextMeasurer::usesDeterministic());
    auto textView = make<UITextView>(CGRectMake(0, 0, 110, 50));
    textView->setFont(UIFont::systemFontOfSize(10));  // lines 12 high; 100 points of text width
    EXPECT_DOUBLE_EQ(textView->contentSize().height, 12 + 16);
    EXPECT_DOUBLE_EQ(textView->contentSize().width, 110);
    textView->setText(std::string(30, 'a'));  // 150 wide: two lines
    EXPECT_DOUBLE_EQ(textView->contentSize().height, 24 + 16);
    textView->setText(std::string("a\nb\nc\n"));
    EXPECT_DOUBLE_EQ(textView->contentSize().height, 48 + 16);
    textView->setFrame(CGRectMake(0, 0, 60, 50));
    textView->setText(std::string(30, 'a'));  // 50 of text width: three lines
    EXPECT_DOUBLE_EQ(textView->contentSize().height, 36 + 16);
    EXPECT_DOUBLE_EQ(textView->contentSize().width, 60);
}

TEST_F(TextEntryTest, NonEditableTextViewsDoNotEdit) {
    auto textView = make<UITextView>(CGRectMake(0, 100, 200, 100));
    window->addSubview(textView);
    textView->setEditable(false);
    EXPECT_EQ(UITextEntryDriver::typeText(textView, "x"), 0u);
    EXPECT_FALSE(UITextEntryDriver::isKeyboardVisible());
}

TEST_F(TextEntryTest, TypingIntoAFieldThenATextViewAndBack) {
    auto textView = make<UITextView>(CGRectMake(0, 100, 200, 100));
    window->addSubview(textView);
    UITextEntryDriver::typeText(field, "one");
    UITextEntryDriver::typeText(textView, "two");
    UITextEntryDriver::typeText(field, "!");
    EXPECT_EQ(field->text(), "one!");
    EXPECT_EQ(textView->text(), "two");
    EXPECT_TRUE(field->isEditing());
    EXPECT_FALSE(textView->isEditing());
    EXPECT_TRUE(postedOnly("Hide").empty());
}

TEST_F(TextEntryTest, ATapBeginsEditing) {
    auto textView = make<UITextView>(CGRectMake(0, 100, 200, 100));
    window->addSubview(textView);
    UITestDriver::reset();
    UITestDriver::tap(field);
    EXPECT_TRUE(field->isEditing());
    UITestDriver::tap(textView);
    EXPECT_TRUE(textView->isEditing());
    EXPECT_FALSE(field->isEditing());
    UITestDriver::reset();
}

TEST(TextEntryHelpers, ReplacingUTF16RangesCutsToTheText) {
    NSRange clamped;
    EXPECT_EQ(detail::replaceUTF16Range("a😀b", NSMakeRange(1, 2), "x", &clamped), "axb");
    EXPECT_EQ(clamped, NSMakeRange(1, 2));
    EXPECT_EQ(detail::replaceUTF16Range("abc", NSMakeRange(5, 3), "x", &clamped), "abcx");
    EXPECT_EQ(clamped, NSMakeRange(3, 0));
    EXPECT_EQ(detail::replaceUTF16Range("abc", NSMakeRange(1, NSNotFound), "", &clamped), "a");
    EXPECT_EQ(detail::clampRange(NSMakeRange(NSNotFound, 1), 3), NSMakeRange(3, 0));
}

}  // namespace
