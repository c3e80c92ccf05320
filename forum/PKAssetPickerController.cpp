#include "forum/PKAssetPickerController.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "forum/ForumResources.h"
#include "forum/NSDate+TimeInterval.h"
#include "foundation/NSBundle.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/CGContext.h"
#include "graphics/CGGradient.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"
#include "uikit/UIBars.h"

namespace {

constexpr CGFloat kThumbnail = 78;
constexpr char kTick[] = "PKAssetPicker.Bundle/Images/AssetsPickerChecked@2x.png";
constexpr char kNoTick[] = "PKAssetPicker.Bundle/Images/AssetsPickerNo@2x.png";
constexpr char kVideo[] = "PKAssetPicker.Bundle/Images/AssetsPickerVideo@2x.png";
constexpr char kLocked[] = "PKAssetPicker.Bundle/Images/AssetsPickerLocked@2x.png";

std::string localized(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, std::string(), std::nullopt);
}

std::string format1(const std::string& format, long long value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<long>(value));
    return buffer;
}

std::string format2(const std::string& format, long long a, long long b) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<long>(a), static_cast<long>(b));
    return buffer;
}

bool isLandscape(UIInterfaceOrientation orientation) {
    return orientation == UIInterfaceOrientationLandscapeLeft ||
           orientation == UIInterfaceOrientationLandscapeRight;
}

bool isVideo(const Ref<ALAsset>& asset) {
    return asset &&
           asset->valueForProperty(ALAssetPropertyType).optionalString() == std::string(ALAssetTypeVideo);
}

double durationOf(const Ref<ALAsset>& asset) {
    Value duration = asset ? asset->valueForProperty(ALAssetPropertyDuration) : Value();
    return duration.number() ? duration.number()->doubleValue() : 0;
}

Ref<UIColor> selectedTint() {
    static Ref<UIColor> colour = UIColor::colorWithWhite(1, 0.3);
    return colour;
}

Ref<UIColor> disabledTint() {
    static Ref<UIColor> colour = UIColor::colorWithWhite(1, 0.9);
    return colour;
}

// A notice in the middle of a table's background.
Ref<UIView> noticeView(const Ref<UIImage>& image, const std::string& title, const Ref<UIFont>& titleFont,
                       const std::string& message, const Ref<UIFont>& messageFont, const Ref<UIColor>& colour,
                       CGRect bounds) {
    auto background = make<UIView>(bounds);
    auto centre = make<UIView>(CGRectZero);
    CGFloat y = 0;
    auto add = [&](const Ref<UIView>& view) {
        CGSize size = view->frame().size;
        view->setFrame(CGRectMake((304 - size.width) / 2, y, size.width, size.height));
        centre->addSubview(view);
        y += size.height + 8;
    };
    if (image) add(make<UIImageView>(image));
    for (const auto& [text, font] : {std::pair{title, titleFont}, std::pair{message, messageFont}}) {
        auto label = make<UILabel>(CGRectMake(0, 0, 304, 0));
        label->setText(text);
        label->setFont(font);
        label->setTextColor(colour);
        label->setTextAlignment(NSTextAlignmentCenter);
        label->setNumberOfLines(5);
        label->setPreferredMaxLayoutWidth(304);
        label->sizeToFit();
        add(label);
    }
    centre->setFrame(CGRectMake((bounds.size.width - 304) / 2, (bounds.size.height - y) / 2, 304, y));
    background->addSubview(centre);
    return background;
}

}  // namespace

// ---- the picker -----------------------------------------------------------------------------------

PKAssetPickerController::PKAssetPickerController()
    : UINavigationController(make<PKAssetGroupViewController>()) {
    setPreferredContentSize(CGSizeMake(320, 480));
}

// ---- the tap layer ----------------------------------------------------------------------------------

PKTapAssetView::PKTapAssetView(CGRect frame) : UIView(frame) {}

void PKTapAssetView::didInit() {
    Ref<UIImage> tick = detail::forum::imageNamed(kTick);
    CGSize size = tick ? tick->size() : CGSizeMake(24, 24);
    selectView =
        make<UIImageView>(CGRectMake(bounds().size.width - size.width - 2, 2, size.width, size.height));
    addSubview(selectView);
}

void PKTapAssetView::showState() {
    setBackgroundColor(selected_ ? selectedTint() : UIColor::clearColor());
    selectView->setImage(detail::forum::imageNamed(selected_ ? kTick : kNoTick));
}

void PKTapAssetView::setSelected(bool selected) {
    if (disabled_) {
        setBackgroundColor(disabledTint());
        selectView->setImage(nullptr);
        return;
    }
    selected_ = selected;
    showState();
}

void PKTapAssetView::setDisabled(bool disabled) {
    disabled_ = disabled;
    setBackgroundColor(disabled ? disabledTint() : UIColor::clearColor());
}

void PKTapAssetView::tap() {
    if (disabled_) return;
    std::optional<bool> allowed = delegate() ? delegate()->shouldTap() : std::nullopt;
    if (!allowed.value_or(true) && !selected_) return;
    selected_ = !selected_;
    showState();
    if (auto d = delegate()) d->touchSelect(selected_);
}

void PKTapAssetView::touchesEnded(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    tap();
}

// ---- the video strip --------------------------------------------------------------------------------

void PKVideoTitleView::drawRect(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat components[] = {0, 0, 0, 0, 0, 0, 0, 0.8};
    const CGFloat locations[] = {0, 0.75};
    CGGradientRef gradient =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 2);
    CGFloat w = rect.size.width, h = rect.size.height;
    CGContextDrawLinearGradient(context, gradient, CGPointMake(w / 2, rect.origin.y),
                                CGPointMake(w / 2, CGRectGetMaxY(rect)), kCGGradientDrawsBeforeStartLocation);
    std::string label = text().value_or("");
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject(NSFontAttributeName, Value(UIFont::systemFontOfSize(12)));
    attributes.setObject(NSForegroundColorAttributeName, Value(textColor()));
    CGSize size = NSStringDrawing::sizeWithAttributes(label, attributes);
    NSStringDrawing::drawInRect(label, CGRectMake(w - size.width - 2, (h - 12) / 2, 78, 12), attributes);
    if (Ref<UIImage> video = detail::forum::imageNamed(kVideo)) {
        CGSize v = video->size();
        video->drawInRect(CGRectMake(2, (h - v.height) / 2, v.width, v.height));
    }
}

// ---- the thumbnail ------------------------------------------------------------------------------------

PKAssetView::PKAssetView(CGRect frame) : UIView(frame) {}

void PKAssetView::didInit() {
    setOpaque(true);
    imageView = make<UIImageView>(CGRectMake(0, 0, kThumbnail, kThumbnail));
    addSubview(imageView);
    videoTitle = make<PKVideoTitleView>(CGRectMake(0, kThumbnail - 20, kThumbnail, 20));
    videoTitle->setFont(UIFont::systemFontOfSize(12));
    videoTitle->setTextColor(UIColor::whiteColor());
    videoTitle->setTextAlignment(NSTextAlignmentRight);
    videoTitle->setBackgroundColor(UIColor::clearColor());
    videoTitle->setHidden(true);
    addSubview(videoTitle);
    tapAssetView = make<PKTapAssetView>(bounds());
    tapAssetView->setDelegate(selfAs<PKAssetView>());
    addSubview(tapAssetView);
}

void PKAssetView::bind(const Ref<ALAsset>& boundAsset, const Ref<NSPredicate>& selectionFilter,
                       bool isSeleced) {
    asset = boundAsset;
    CGImageRef thumbnail = asset ? asset->thumbnail() : CGImageRef();
    imageView->setImage(thumbnail ? UIImage::imageWithCGImage(thumbnail, 2) : nullptr);
    if (isVideo(asset)) {
        videoTitle->setHidden(false);
        videoTitle->setText(NSDate_TimeInterval::timeDescriptionOfTimeInterval(durationOf(asset)));
    } else {
        videoTitle->setHidden(true);
    }
    bool accepted = !selectionFilter || selectionFilter->evaluateWithObject(Value(asset));
    tapAssetView->setDisabled(!accepted);
    tapAssetView->setSelected(isSeleced);
}

std::optional<bool> PKAssetView::shouldTap() {
    auto d = delegate();
    return d ? d->shouldSelectAsset(asset) : std::nullopt;
}

void PKAssetView::touchSelect(bool selected) {
    if (auto d = delegate()) d->tapSelectHandle(selected, asset);
}

// ---- the row ------------------------------------------------------------------------------------------

std::vector<Ref<PKAssetView>> PKAssetViewCell::assetViews() const {
    std::vector<Ref<PKAssetView>> views;
    for (const auto& subview : contentView()->subviews())
        if (auto view = std::dynamic_pointer_cast<PKAssetView>(subview)) views.push_back(view);
    return views;
}

void PKAssetViewCell::bind(const std::vector<Ref<ALAsset>>& assets, const Ref<NSPredicate>& selectionFilter,
                           float minimumInteritemSpacing, float minimumLineSpacing, int, CGFloat assetViewX,
                           const std::vector<Ref<ALAsset>>& selected) {
    std::vector<Ref<PKAssetView>> views = assetViews();
    while (views.size() > assets.size()) {
        views.back()->removeFromSuperview();
        views.pop_back();
    }
    for (std::size_t i = 0; i < assets.size(); ++i) {
        CGRect frame = CGRectMake(assetViewX + (minimumInteritemSpacing + kThumbnail) * i,
                                  minimumLineSpacing - 1, kThumbnail, kThumbnail);
        if (i >= views.size()) {
            auto view = make<PKAssetView>(frame);
            view->setDelegate(selfAs<PKAssetViewCell>());
            contentView()->addSubview(view);
            views.push_back(view);
        }
        views[i]->setFrame(frame);
        bool isSelected = std::any_of(selected.begin(), selected.end(), [&](const Ref<ALAsset>& a) {
            return a && assets[i] && a->isEqual(*assets[i]);
        });
        views[i]->bind(assets[i], selectionFilter, isSelected);
    }
}

std::optional<bool> PKAssetViewCell::shouldSelectAsset(const Ref<ALAsset>& asset) {
    auto d = delegate();
    return d ? std::optional<bool>(d->shouldSelectAsset(asset)) : std::nullopt;
}

void PKAssetViewCell::tapSelectHandle(bool selected, const Ref<ALAsset>& asset) {
    auto d = delegate();
    if (!d) return;
    if (selected)
        d->didSelectAsset(asset);
    else
        d->didDeselectAsset(asset);
}

// ---- the grid -------------------------------------------------------------------------------------------

PKAssetViewController::PKAssetViewController() : UITableViewController(UITableViewStylePlain) {
    bool landscape = isLandscape(interfaceOrientation());
    minimumInteritemSpacing_ = minimumLineSpacing_ = landscape ? 3.0f : 2.0f;
    setEdgesForExtendedLayout(UIRectEdgeNone);
    setPreferredContentSize(CGSizeMake(320, 480));
}

Ref<PKAssetPickerController> PKAssetViewController::picker() const {
    return std::dynamic_pointer_cast<PKAssetPickerController>(navigationController());
}

void PKAssetViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    Ref<UITableView> table = tableView();
    bool landscape = isLandscape(interfaceOrientation());
    table->setContentInset(landscape ? UIEdgeInsetsMake(9, 2, 0, 2) : UIEdgeInsetsMake(9, 0, 0, 0));
    table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    table->setBackgroundColor(UIColor::whiteColor());
    Weak<PKAssetViewController> weak = selfAs<PKAssetViewController>();
    navigationItem()->setRightBarButtonItem(make<UIBarButtonItem>(
        localized("下一步"), UIBarButtonItemStylePlain, self(), [weak](const Ref<NSObject>& sender) {
            if (auto self = weak.lock()) self->finishPickingAssets(sender);
        }));
}

void PKAssetViewController::viewWillAppear(bool animated) {
    if (!unFirst_) {
        columns_ = static_cast<int>(
            std::floor(view()->bounds().size.width / (minimumInteritemSpacing_ + kThumbnail)));
        if (columns_ < 1) columns_ = 1;
        setupAssets();
        unFirst_ = true;
    }
    UITableViewController::viewWillAppear(animated);
}

void PKAssetViewController::setupAssets() {
    if (assetsGroup) setTitle(assetsGroup->valueForProperty(ALAssetsGroupPropertyName).optionalString());
    numberOfPhotos = numberOfVideos = 0;
    assets.clear();
    if (assetsGroup) {
        assetsGroup->enumerateAssetsUsingBlock([this](const Ref<ALAsset>& asset, std::size_t, bool*) {
            if (!asset) return;
            assets.push_back(asset);
            if (isVideo(asset))
                ++numberOfVideos;
            else
                ++numberOfPhotos;
        });
    }
    if (!assets.empty()) {
        tableView()->reloadData();
        tableView()->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(assetRows(), 0),
                                            UITableViewScrollPositionTop, true);
    }
}

long PKAssetViewController::assetRows() const {
    return static_cast<long>((assets.size() + columns_ - 1) / columns_);
}

void PKAssetViewController::willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                                      double) {
    tableView()->setContentInset(UIEdgeInsetsMake(9, 0, 0, 0));
    minimumInteritemSpacing_ = minimumLineSpacing_ = isLandscape(orientation) ? 3.0f : 2.0f;
    columns_ = std::max(1, static_cast<int>(std::floor(view()->bounds().size.width /
                                                       (minimumInteritemSpacing_ + kThumbnail))));
    tableView()->reloadData();
}

long PKAssetViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return assetRows() + 1;
}

Ref<UITableViewCell>
PKAssetViewController::tableViewCellForRowAtIndexPath(UITableView& table, const Ref<NSIndexPath>& indexPath) {
    long row = indexPath->row();
    if (row >= assetRows()) {
        auto cell = table.dequeueReusableCellWithIdentifier("cellFooter");
        if (!cell) {
            cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("cellFooter"));
            cell->textLabel()->setFont(UIFont::systemFontOfSize(18));
            cell->textLabel()->setTextAlignment(NSTextAlignmentCenter);
            cell->textLabel()->setTextColor(UIColor::blackColor());
            cell->textLabel()->setBackgroundColor(UIColor::clearColor());
            cell->setBackgroundColor(UIColor::clearColor());
            cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
        }
        std::string text;
        if (numberOfPhotos > 0 && numberOfVideos > 0)
            text = format2(localized("%ld 张照片, %ld 部视频"), numberOfPhotos, numberOfVideos);
        else if (numberOfVideos > 0)
            text = format1(localized("%ld 部视频"), numberOfVideos);
        else
            text = format1(localized("%ld 张照片"), numberOfPhotos);
        cell->textLabel()->setText(text);
        return cell;
    }
    auto cell = std::dynamic_pointer_cast<PKAssetViewCell>(
        table.dequeueReusableCellWithIdentifier("AssetViewCellIdentifier"));
    if (!cell) {
        cell = make<PKAssetViewCell>(UITableViewCellStyleDefault, std::string("AssetViewCellIdentifier"));
        cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
    }
    cell->setDelegate(selfAs<PKAssetViewController>());
    std::vector<Ref<ALAsset>> rowAssets;
    for (long i = row * columns_; i < (row + 1) * columns_ && i < static_cast<long>(assets.size()); ++i)
        rowAssets.push_back(assets[i]);
    const CGFloat k = static_cast<CGFloat>(rowAssets.size());
    CGFloat x0 = (table.bounds().size.width - kThumbnail * k - minimumInteritemSpacing_ * (k - 1)) / 2;
    auto owner = picker();
    cell->bind(rowAssets, owner ? owner->selectionFilter : nullptr, minimumInteritemSpacing_,
               minimumLineSpacing_, columns_, x0, indexPathsForSelectedItems);
    return cell;
}

std::optional<CGFloat>
PKAssetViewController::tableViewHeightForRowAtIndexPath(UITableView&, const Ref<NSIndexPath>& indexPath) {
    return indexPath->row() >= assetRows() ? 44 : minimumLineSpacing_ + kThumbnail;
}

bool PKAssetViewController::shouldSelectAsset(const Ref<ALAsset>& asset) {
    auto owner = picker();
    if (!owner) return true;
    bool atMaximum =
        static_cast<long long>(indexPathsForSelectedItems.size()) >= owner->maximumNumberOfSelection;
    if (atMaximum)
        if (auto d = owner->delegate()) d->assetPickerControllerDidMaximum(owner);
    bool accepted = !owner->selectionFilter || owner->selectionFilter->evaluateWithObject(Value(asset));
    return accepted && !atMaximum;
}

void PKAssetViewController::didSelectAsset(const Ref<ALAsset>& asset) {
    indexPathsForSelectedItems.push_back(asset);
    auto owner = picker();
    if (owner) {
        owner->indexPathsForSelectedItems = indexPathsForSelectedItems;
        if (auto d = owner->delegate()) d->assetPickerControllerDidSelectAsset(owner, asset);
    }
    selectionChanged();
}

void PKAssetViewController::didDeselectAsset(const Ref<ALAsset>& asset) {
    auto& list = indexPathsForSelectedItems;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Ref<ALAsset>& a) { return a && asset && a->isEqual(*asset); }),
               list.end());
    auto owner = picker();
    if (owner) {
        owner->indexPathsForSelectedItems = list;
        if (auto d = owner->delegate()) d->assetPickerControllerDidDeselectAsset(owner, asset);
    }
    selectionChanged();
}

void PKAssetViewController::selectionChanged() {
    setTitle(std::string("相机胶卷"));
    if (!indexPathsForSelectedItems.empty())
        number = static_cast<long long>(indexPathsForSelectedItems.size());
}

std::string PKAssetViewController::selectionCaption() const {
    long long photos = 0, videos = 0;
    for (const auto& asset : indexPathsForSelectedItems) (isVideo(asset) ? videos : photos) += 1;
    if (photos > 0 && videos > 0) return format1("已选择 %ld 个项目", photos + videos);
    if (videos > 1) return format1("已选择 %ld 部视频", videos);
    if (photos > 1) return format1("已选择 %ld 张照片", photos);
    if (videos == 1) return format1("已选择 %ld 部视频 ", videos);
    return format1("已选择 %ld 张照片 ", photos);
}

void PKAssetViewController::finishPickingAssets(const Ref<NSObject>&) {
    auto owner = picker();
    if (!owner) return;
    auto d = owner->delegate();
    if (!d) return;
    if (static_cast<long long>(indexPathsForSelectedItems.size()) < owner->minimumNumberOfSelection)
        d->assetPickerControllerDidMinimum(owner);
    d->assetPickerControllerDidFinishPickingAssets(owner, indexPathsForSelectedItems);
}

// ---- the album list ---------------------------------------------------------------------------------

void PKAssetGroupViewCell::bind(const Ref<ALAssetsGroup>& group) {
    assetsGroup_ = group;
    if (!group) return;
    CGImageRef poster = group->posterImage();
    if (poster) {
        CGFloat pixels = static_cast<CGFloat>(CGImageGetHeight(poster));
        imageView()->setImage(UIImage::imageWithCGImage(poster, pixels / 78));
    } else {
        imageView()->setImage(nullptr);
    }
    std::string name = group->valueForProperty(ALAssetsGroupPropertyName).optionalString().value_or("");
    textLabel()->setText(name);
    detailTextLabel()->setText(format1("%ld", group->numberOfAssets()));
    setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    setAccessibilityLabel(name + format1(localized("%ld 张照片"), group->numberOfAssets()));
}

PKAssetGroupViewController::PKAssetGroupViewController() : UITableViewController(UITableViewStylePlain) {
    setPreferredContentSize(CGSizeMake(320, 480));
    // The picker shows its bar and nothing insets the table for it: a list laid under the bar
    // would leave the top of its first row untappable.
    setEdgesForExtendedLayout(UIRectEdgeLeft | UIRectEdgeBottom | UIRectEdgeRight);
}

Ref<ALAssetsLibrary> PKAssetGroupViewController::defaultAssetsLibrary() {
    static std::once_flag once;
    static Ref<ALAssetsLibrary> library;
    std::call_once(once, [] { library = make<ALAssetsLibrary>(); });
    return library;
}

UIInterfaceOrientationMask PKAssetGroupViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscapeLeft |
           UIInterfaceOrientationMaskLandscapeRight;
}

Ref<PKAssetPickerController> PKAssetGroupViewController::picker() const {
    return std::dynamic_pointer_cast<PKAssetPickerController>(navigationController());
}

void PKAssetGroupViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    tableView()->setRowHeight(90);
    tableView()->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    auto owner = picker();
    if (!owner || owner->showCancelButton) {
        Weak<PKAssetGroupViewController> weak = selfAs<PKAssetGroupViewController>();
        navigationItem()->setRightBarButtonItem(make<UIBarButtonItem>(
            localized("取消"), UIBarButtonItemStylePlain, self(), [weak](const Ref<NSObject>& sender) {
                if (auto self = weak.lock()) self->dismiss(sender);
            }));
    }
    setTitle(localized("相簿"));
    setupGroup();
}

void PKAssetGroupViewController::setupGroup() {
    if (!assetsLibrary) assetsLibrary = defaultAssetsLibrary();
    groups.clear();
    endedEnumerations_ = 0;
    Weak<PKAssetGroupViewController> weak = selfAs<PKAssetGroupViewController>();
    auto onGroup = [weak](const Ref<ALAssetsGroup>& group, bool*) {
        auto self = weak.lock();
        if (!self) return;
        if (!group) {
            self->enumerationEnded();
            return;
        }
        auto owner = self->picker();
        group->setAssetsFilter(owner ? owner->assetsFilter : ALAssetsFilter::allAssets());
        bool showEmpty = owner && owner->showEmptyGroups;
        if (group->numberOfAssets() < 1 && !showEmpty) return;
        self->groups.push_back(group);
        self->groupsArrived();
    };
    auto onFailure = [weak](const Ref<NSError>&) {
        if (auto self = weak.lock()) self->showNotAllowed();
    };
    assetsLibrary->enumerateGroupsWithTypes(ALAssetsGroupSavedPhotos, onGroup, onFailure);
    assetsLibrary->enumerateGroupsWithTypes(ALAssetsGroupLibrary | ALAssetsGroupAlbum | ALAssetsGroupEvent |
                                                ALAssetsGroupFaces | ALAssetsGroupPhotoStream,
                                            onGroup, onFailure);
}

void PKAssetGroupViewController::groupsArrived() {
    if (noAssetsShown_) {
        tableView()->setBackgroundView(nullptr);
        noAssetsShown_ = false;
    }
}

void PKAssetGroupViewController::enumerationEnded() {
    ++endedEnumerations_;
    // Only when both enumerations found nothing is the library really empty.
    if (groups.empty() && endedEnumerations_ >= 2) showNoAssets();
    tableView()->reloadData();
}

void PKAssetGroupViewController::dismiss(const Ref<NSObject>&) {
    auto owner = picker();
    if (owner)
        if (auto d = owner->delegate()) d->assetPickerControllerDidCancel(owner);
    if (owner && owner->presentingViewController())
        owner->presentingViewController()->dismissViewControllerAnimated(true);
}

void PKAssetGroupViewController::showNotAllowed() {
    setEdgesForExtendedLayout(UIRectEdgeLeft | UIRectEdgeBottom | UIRectEdgeRight);
    setTitle(std::nullopt);
    auto colour = UIColor::colorWithRed(129 / 255.0, 136 / 255.0, 148 / 255.0, 1);
    tableView()->setBackgroundView(
        noticeView(detail::forum::imageNamed(kLocked), localized("此应用无法使用您的照片或视频。"),
                   UIFont::boldSystemFontOfSize(17), localized("你可以在「隐私设置」中启用存取。"),
                   UIFont::systemFontOfSize(14), colour, tableView()->bounds()));
    notAllowedShown_ = true;
}

void PKAssetGroupViewController::showNoAssets() {
    setEdgesForExtendedLayout(UIRectEdgeLeft | UIRectEdgeBottom | UIRectEdgeRight);
    auto colour = UIColor::colorWithWhite(0.6, 1);
    tableView()->setBackgroundView(noticeView(nullptr, localized("没有照片或视频。"),
                                              UIFont::systemFontOfSize(26),
                                              localized("您可以使用 iTunes 将照片和视频\n同步到 iPhone。"),
                                              UIFont::systemFontOfSize(18), colour, tableView()->bounds()));
    noAssetsShown_ = true;
}

long PKAssetGroupViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(groups.size());
}

Ref<UITableViewCell>
PKAssetGroupViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                           const Ref<NSIndexPath>& indexPath) {
    auto cell =
        std::dynamic_pointer_cast<PKAssetGroupViewCell>(table.dequeueReusableCellWithIdentifier("Cell"));
    if (!cell) cell = make<PKAssetGroupViewCell>(UITableViewCellStyleSubtitle, std::string("Cell"));
    if (indexPath->row() < static_cast<long>(groups.size())) cell->bind(groups[indexPath->row()]);
    return cell;
}

void PKAssetGroupViewController::tableViewDidSelectRowAtIndexPath(UITableView&,
                                                                  const Ref<NSIndexPath>& indexPath) {
    if (indexPath->row() >= static_cast<long>(groups.size())) return;
    auto grid = make<PKAssetViewController>();
    grid->assetsGroup = groups[indexPath->row()];
    if (auto navigation = navigationController()) navigation->pushViewController(grid, true);
}
