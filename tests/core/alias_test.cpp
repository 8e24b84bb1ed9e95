#include "board/sim/Sim.h"
#include "core/alias.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

namespace {
const char* const kPath = "/data/configs/alias.json";

const char* const kNames = R"({
  "namelist": {
    "win": [ { "id": 0, "valid": "on", "name": "W0" } ],
    "source": [
      { "id": 0, "valid": "on", "name": "Camera" },
      { "id": "1", "valid": "on", "name": "讲台" },
      { "id": 2, "valid": "off", "name": "Spare" },
      { "id": 3, "valid": "on", "name": "" },
      { "id": 0, "valid": "on", "name": "Second" },
      { "id": "x", "valid": "on", "name": "Bad id" },
      { "valid": "on", "name": "No id" },
      { "id": 5, "name": "No valid member" }
    ],
    "usermode": [ { "id": 15, "valid": "yes", "name": "Evening" } ]
  }
})";
} // namespace

TEST(AliasNames, NamesAreFoundByGroupAndId)
{
    kel_test::TestRoot root;
    root.writeFile(kPath, kNames);
    // Of two elements with id 0 the first counts; an id in text is a number; disabled or empty
    // names fill the record but give 0.
    const struct {
        const char* group;
        int id, found;
        const char *valid, *name;
    } rows[] = {
        {"source", 0, 1, "on", "Camera"},      {"source", 1, 1, "on", "讲台"},
        {"usermode", 15, 1, "yes", "Evening"}, {"source", 5, 1, "", "No valid member"},
        {"source", 2, 0, "off", "Spare"},      {"source", 3, 0, "on", ""},
    };
    for (const auto& r : rows) {
        ALIAS_PARA a{-1, "", "keep"};
        const int found = get_json_alias_para(&a, r.group, r.id);
        EXPECT_EQ(std::make_tuple(found, a.id, std::string(a.valid), std::string(a.name)), std::make_tuple(r.found, r.id, std::string(r.valid), std::string(r.name)))
            << r.group << " " << r.id;
    }

    // Unknown groups and ids give 0 and leave the record.
    ALIAS_PARA a{-1, "v", "n"};
    for (const auto& [group, id] : {std::pair<const char*, int>{"sourc", 0}, {"crop", 0}, {"source", 9}})
        EXPECT_EQ(get_json_alias_para(&a, group, id), 0) << group << " " << id;
    EXPECT_TRUE(a.id == -1 && std::string(a.name) == "n" && root.exists(kPath));
}

TEST(AliasNames, FilesWithoutTheNameGiveZeroAndOnlyTruncatedOnesAreDeletedAtTheFirstRead)
{
    kel_test::TestRoot root;
    ALIAS_PARA a{};
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    root.writeFile(kPath, std::string(kNames).substr(0, 120));
    EXPECT_EQ((std::vector<int>{get_json_alias_para(&a, "source", 0), root.exists(kPath), get_json_alias_para(&a, "source", 0)}),
              (std::vector<int>{0, 0, 0}));

    // Valid JSON nested 75,000 deep would overflow the reader's stack at every start: it is
    // handled like a parse error. Brackets inside strings do not count. Well-formed files of
    // another shape give 0 and are kept.
    for (const auto& [text, found, kept] : std::vector<std::tuple<std::string, int, int>>{
             {std::string(75000, '[') + std::string(75000, ']'), 0, 0},
             {"{\"namelist\":{\"source\":[{\"id\":0,\"valid\":\"on\",\"name\":\"" + std::string(100, '[') + "\"}]}}", 1, 1},
             {R"({"names": {}})", 0, 1}, {R"({"namelist": {"source": "text"}})", 0, 1}, {R"({"namelist": {"source": [ 1, 2, 3 ]}})", 0, 1},
             {R"([1, 2])", 0, 1}, {R"({"namelist": {"source": [ {"id": 99999999999999, "name": "big"} ]}})", 0, 1}}) {
        root.writeFile(kPath, text);
        EXPECT_EQ((std::vector<int>{get_json_alias_para(&a, "source", 0), root.exists(kPath)}), (std::vector<int>{found, kept})) << text.substr(0, 120);
    }
}
