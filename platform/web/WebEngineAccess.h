#pragma once
// The layout engine keeps a few members to itself that the page renderer must reach (a sheet's
// rule list, an element's float and z-index). An explicit instantiation may name a private
// member, so a tag type declares the member's pointer type and a friend `member(Tag)`, and
//   template struct ExposeMember<Tag, &Class::m_member>;
// defines that friend to answer the pointer. Private to the web page renderer.

namespace detail {
// In each file of its own, as are the tags (in an unnamed namespace): the friend it defines and
// the one a tag declares are then one function.
namespace {

template <class Tag, typename Tag::type Member>
struct ExposeMember {
    friend typename Tag::type member(Tag) { return Member; }
};

}  // namespace
}  // namespace detail
