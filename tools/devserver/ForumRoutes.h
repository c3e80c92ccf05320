#pragma once
// The Q&A forum on the stand-in server: questions, answers, likes, the question search and
// publishing, with their state kept across calls for as long as the routes live.
//
//   question/getquestionlist.do    GET   question_id (0, or the last one held), brand_id, [user_token]
//   search/search.do (type 4)      GET   keyword, page (from 0), cars_brand ("0": all), [user_token]
//   question/questionlike.do       GET, POST  user_token, question_id: toggles the like
//   question/getquestion.do        GET   question_id, [user_token]
//   question/getquestioncomment.do GET   question_id, comment_id (0, or the last one held), [user_token]
//   question/commentlike.do        GET, POST  user_token, comment_id: toggles the like
//   question/addcomment.do         GET   user_token, question_id, re_content, [comment_id], [pic_url]
//   question/addquestion.do        POST  user_token, question_txt, question_title, question_content,
//                                        cars_brand, [question_pic]
//
// Lists are newest first and come in pages of ten: a published question is the first row of the
// list, a new answer the first of its question's answers. Counts (likes, answers, replies to an
// answer) follow every change; is_like is the asking user's own state. A token that is given but
// unknown or expired answers 10003 everywhere; the calls that change something need one.
// Pictures of the sample questions and answers are drawn at start-up and served from the
// server's picture area (a sample question's page shows its pictures too, as <img> tags with the
// same addresses as its list row); uploaded ones come back as the client sent their addresses.
//
// Thread-safe: handlers run on the server's worker threads behind one lock.

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/devserver/DevServer.h"

namespace devserver {

inline constexpr int kForumPageSize = 10;

struct ForumQuestion {
    long question_id = 0;
    long uid = 0;
    long cars_brand = 0;
    std::string question_title;
    std::string question_txt;
    std::string question_content;       // an HTML fragment; src="@<picture id>" for the server's own
    std::vector<std::string> pictures;  // absolute addresses, or "@<picture id>" of the server's own
    std::string addtime;
    std::set<long> likers;
};

struct ForumAnswer {
    long comment_id = 0;
    long question_id = 0;
    long uid = 0;
    std::string re_content;
    std::vector<std::string> pictures;
    std::string replytime;
    std::set<long> likers;
    long replies = 0;  // replies aimed at this answer
};

class ForumRoutes {
  public:
    // With samples: two dozen questions over the catalogue's brands 1 and 2, by the sample users,
    // some with pictures and answers (the newest one with more answers than a page holds).
    ForumRoutes(DevServer& server, bool withSamples);

    std::vector<ForumQuestion> questions() const;  // newest first
    std::optional<ForumQuestion> question(long questionId) const;
    std::vector<ForumAnswer> answers(long questionId) const;  // newest first
    long addQuestion(ForumQuestion question);                 // answers the new id
    long addAnswer(ForumAnswer answer);

    static void install(RouteRegistry& registry, const std::shared_ptr<ForumRoutes>& routes);

    struct State;

  private:
    DevServer& server_;
    std::shared_ptr<State> state_;
};

std::shared_ptr<ForumRoutes> addForumRoutes(DevServer& server, bool withSamples = true);

}  // namespace devserver
