#pragma once
// The cards of the entry galleries: the entry's picture, title, author (avatar and nickname), its
// vote count with a vote button and, for an entry made from a studio tuning list, a button that
// tries that car in the studio. The buttons hand the card's entry to the gallery's blocks; a card
// without a block ignores the tap.
//
// QVNProductionCell is the flow gallery's card (registered by class under "ProductionCell");
// QVNProductionSecondcell is the waterfall gallery's, made from the nib "QVNProductionSecondcell"
// (registered on the first use of nib()). The views are placed from the card's size on every
// layout, so one card serves any item size its layout gives. Main thread only.

#include <functional>
#include <string>

#include "app/QVNProduction.h"
#include "uikit/UIButton.h"
#include "uikit/UICollectionViewCell.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINib.h"

class QVNProductionCell : public UICollectionViewCell {
  public:
    using ProductionBlock = std::function<void(const Ref<QVNProduction>& production)>;
    static constexpr char kReuseIdentifier[] = "ProductionCell";

    explicit QVNProductionCell(CGRect frame) : UICollectionViewCell(frame) {}
    void didInit();
    std::string className() const override { return "QVNProductionCell"; }
    static double height() { return 202.0; }

    Weak<UIImageView> carImageView;
    Weak<UILabel> pictureNameLabel;
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UIButton> voteButton;
    Weak<UILabel> voteCountLabel;
    Weak<UIButton> experienceButton;

    const Ref<QVNProduction>& production() const { return production_; }
    void setProduction(const Ref<QVNProduction>& production);
    const ProductionBlock& lookCarBlock() const { return lookCarBlock_; }
    void setLookCarBlock(ProductionBlock block) { lookCarBlock_ = std::move(block); }
    const ProductionBlock& voteBlock() const { return voteBlock_; }
    void setVoteBlock(ProductionBlock block) { voteBlock_ = std::move(block); }

    // The buttons' actions.
    void vote(const Ref<NSObject>& sender);
    void lookCarClick(const Ref<NSObject>& sender);

    void layoutSubviews() override;

  private:
    Ref<QVNProduction> production_;
    ProductionBlock lookCarBlock_;
    ProductionBlock voteBlock_;
};

class QVNProductionSecondcell : public UICollectionViewCell {
  public:
    using ProductionBlock = QVNProductionCell::ProductionBlock;
    static constexpr char kReuseIdentifier[] = "QVNProductionSecondcell";
    static constexpr char kNibName[] = "QVNProductionSecondcell";

    explicit QVNProductionSecondcell(CGRect frame) : UICollectionViewCell(frame) {}
    std::string className() const override { return "QVNProductionSecondcell"; }
    static double height() { return 202.0; }
    // The nib in the main bundle; registers it on first use.
    static Ref<UINib> nib();
    static void registerNib();

    Weak<UIImageView> CarImageView;
    Weak<UILabel> PictureNameLabel;
    Weak<UIImageView> UserImageView;
    Weak<UILabel> UserNameLabel;
    Weak<UIButton> VoteButton;
    Weak<UILabel> VoteCountLabel;
    Weak<UIButton> ExperienceButton;

    const Ref<QVNProduction>& production() const { return production_; }
    void setProduction(const Ref<QVNProduction>& production);
    const ProductionBlock& lookCarBlock() const { return lookCarBlock_; }
    void setLookCarBlock(ProductionBlock block) { lookCarBlock_ = std::move(block); }
    const ProductionBlock& voteBlock() const { return voteBlock_; }
    void setVoteBlock(ProductionBlock block) { voteBlock_ = std::move(block); }

    void vote(const Ref<NSObject>& sender);
    void lookCarClick(const Ref<NSObject>& sender);

    void layoutSubviews() override;

  private:
    Ref<QVNProduction> production_;
    ProductionBlock lookCarBlock_;
    ProductionBlock voteBlock_;
};
