#include "information/QVNProductionCell.h"

#include <mutex>

#include "app/ScreenParts.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"

namespace {

// The outlets of a card, whichever cell names them.
struct Card {
    Weak<UIImageView>& car;
    Weak<UILabel>& title;
    Weak<UIImageView>& avatar;
    Weak<UILabel>& author;
    Weak<UIButton>& vote;
    Weak<UILabel>& count;
    Weak<UIButton>& tryCar;
};

Ref<UILabel> cardLabel(CGFloat size, const Ref<UIColor>& colour) {
    return ScreenParts::label(CGRectZero, size, colour);
}

Ref<UIButton> cardButton(const std::string& title, const Ref<UIColor>& background) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(12));
    button->setBackgroundColor(background);
    button->layer()->setCornerRadius(3);
    button->layer()->setMasksToBounds(true);
    return button;
}

template <class Cell>
void buildCard(Cell& cell, Card card) {
    const Ref<UIView>& content = cell.contentView();
    cell.setBackgroundColor(UIColor::whiteColor());
    auto picture = make<UIImageView>(CGRectZero);
    picture->setContentMode(UIViewContentModeScaleAspectFill);
    picture->setClipsToBounds(true);
    picture->setBackgroundColor(UIColor::colorWithWhite(0.9, 1));
    content->addSubview(picture);
    auto title = cardLabel(13, UIColor_Extensions::QVNBlackColor());
    content->addSubview(title);
    auto avatar = make<UIImageView>(CGRectZero);
    avatar->setContentMode(UIViewContentModeScaleAspectFill);
    avatar->setClipsToBounds(true);
    avatar->layer()->setCornerRadius(9);
    avatar->layer()->setMasksToBounds(true);
    avatar->setBackgroundColor(UIColor::colorWithWhite(0.85, 1));
    content->addSubview(avatar);
    auto author = cardLabel(11, UIColor::grayColor());
    content->addSubview(author);
    auto count = cardLabel(11, UIColor::grayColor());
    content->addSubview(count);
    auto vote = cardButton("投票", UIColor_Extensions::QVNDeepAccentColor());
    vote->addTarget(cell.template selfAs<Cell>(), &Cell::vote, "vote:", UIControlEventTouchUpInside);
    content->addSubview(vote);
    auto tryCar = cardButton("体验", UIColor::colorWithWhite(0, 0.55));
    tryCar->addTarget(cell.template selfAs<Cell>(), &Cell::lookCarClick,
                      "lookCarClick:", UIControlEventTouchUpInside);
    tryCar->setHidden(true);
    content->addSubview(tryCar);
    card.car = picture;
    card.title = title;
    card.avatar = avatar;
    card.author = author;
    card.vote = vote;
    card.count = count;
    card.tryCar = tryCar;
}

// The picture fills the card above three lines: the title, the author, the count with the button.
void layoutCard(const Ref<UIView>& content, Card card) {
    const CGRect bounds = content->bounds();
    const CGFloat w = bounds.size.width, h = bounds.size.height;
    const CGFloat pictureHeight = std::max<CGFloat>(0, h - 64);
    if (auto view = card.car.lock()) view->setFrame(CGRectMake(0, 0, w, pictureHeight));
    if (auto view = card.tryCar.lock()) view->setFrame(CGRectMake(w - 48, 6, 42, 22));
    if (auto view = card.title.lock()) view->setFrame(CGRectMake(6, pictureHeight + 4, w - 12, 18));
    if (auto view = card.avatar.lock()) view->setFrame(CGRectMake(6, pictureHeight + 24, 18, 18));
    if (auto view = card.author.lock()) view->setFrame(CGRectMake(28, pictureHeight + 24, w - 34, 18));
    if (auto view = card.count.lock()) view->setFrame(CGRectMake(6, pictureHeight + 44, w - 58, 16));
    if (auto view = card.vote.lock()) view->setFrame(CGRectMake(w - 46, pictureHeight + 42, 40, 19));
}

Ref<NSURL> serverURL(const std::optional<std::string>& text) {
    // Server text: an address that does not parse leaves the placeholder.
    return text && !text->empty() ? NSURL::URLWithString(*text) : nullptr;
}

void fillCard(Card card, const Ref<QVNProduction>& production) {
    NS_ASSERT_MAIN_THREAD();
    if (auto button = card.tryCar.lock()) button->setHidden(!production || !production->hasTuningList());
    if (auto label = card.title.lock()) label->setText(production ? production->pic_name : std::nullopt);
    if (auto label = card.author.lock())
        label->setText(production ? production->user_nickname : std::nullopt);
    if (auto label = card.count.lock()) {
        long votes = production && production->vote ? production->vote->integerValue() : 0;
        label->setText("投票数量: " + std::to_string(static_cast<int>(votes)));
    }
    if (auto view = card.car.lock())
        UIImageView_WebCache::wi_setImageWithURL(
            view, serverURL(production ? production->pic_url : std::nullopt), UIImage::imageNamed("loading"));
    if (auto view = card.avatar.lock())
        UIImageView_WebCache::wi_setImageWithURL(view,
                                                 serverURL(production ? production->user_logo : std::nullopt),
                                                 UIImage::imageNamed("touxiangmorentu"), WILoadRefreshCached);
}

}  // namespace

// ---- the flow gallery's card --------------------------------------------------------------------

void QVNProductionCell::didInit() {
    buildCard(*this, Card{carImageView, pictureNameLabel, userImageView, userNameLabel, voteButton,
                          voteCountLabel, experienceButton});
}

void QVNProductionCell::setProduction(const Ref<QVNProduction>& production) {
    production_ = production;
    fillCard(Card{carImageView, pictureNameLabel, userImageView, userNameLabel, voteButton, voteCountLabel,
                  experienceButton},
             production);
}

void QVNProductionCell::vote(const Ref<NSObject>&) {
    if (voteBlock_) voteBlock_(production_);
}

void QVNProductionCell::lookCarClick(const Ref<NSObject>&) {
    if (lookCarBlock_) lookCarBlock_(production_);
}

void QVNProductionCell::layoutSubviews() {
    UICollectionViewCell::layoutSubviews();
    layoutCard(contentView(), Card{carImageView, pictureNameLabel, userImageView, userNameLabel, voteButton,
                                   voteCountLabel, experienceButton});
}

// ---- the waterfall gallery's card ---------------------------------------------------------------

void QVNProductionSecondcell::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            auto cell = make<QVNProductionSecondcell>(CGRectMake(0, 0, 150, height()));
            buildCard(*cell, Card{cell->CarImageView, cell->PictureNameLabel, cell->UserImageView,
                                  cell->UserNameLabel, cell->VoteButton, cell->VoteCountLabel,
                                  cell->ExperienceButton});
            cell->awakeFromNib();
            return std::vector<Ref<NSObject>>{cell};
        });
    });
}

Ref<UINib> QVNProductionSecondcell::nib() {
    registerNib();
    return UINib::nibWithNibName(kNibName, nullptr);
}

void QVNProductionSecondcell::setProduction(const Ref<QVNProduction>& production) {
    production_ = production;
    fillCard(Card{CarImageView, PictureNameLabel, UserImageView, UserNameLabel, VoteButton, VoteCountLabel,
                  ExperienceButton},
             production);
}

void QVNProductionSecondcell::vote(const Ref<NSObject>&) {
    if (voteBlock_) voteBlock_(production_);
}

void QVNProductionSecondcell::lookCarClick(const Ref<NSObject>&) {
    if (lookCarBlock_) lookCarBlock_(production_);
}

void QVNProductionSecondcell::layoutSubviews() {
    UICollectionViewCell::layoutSubviews();
    layoutCard(contentView(), Card{CarImageView, PictureNameLabel, UserImageView, UserNameLabel, VoteButton,
                                   VoteCountLabel, ExperienceButton});
}
