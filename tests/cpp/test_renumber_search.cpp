// The choice of new numbers for the buses of a small case that collide with the main case.
#include <string>

#include "check.hpp"
#include "study/renumber_search.hpp"

namespace {

using gridfold::study::BusNumber;
using gridfold::study::BusNumberRangeExhausted;
using gridfold::study::choose_new_bus_numbers;

std::string choices_text(const std::vector<BusNumber>& main, const std::vector<BusNumber>& small,
                         std::optional<BusNumber> connecting) {
    std::string text;
    for (const auto& choice : choose_new_bus_numbers(main, small, connecting))
        text += std::to_string(choice.old_number) + "->" + std::to_string(choice.new_number) + " ";
    return text;
}

}  // namespace

TEST("renumber search gives colliding buses free numbers from 900000 up, in table order") {
    // 101 and 102 collide; 900000 is taken by the main case and 900001 by the small case.
    CHECK_EQ(choices_text({101, 102, 103, 900000}, {102, 900001, 101, 5}, std::nullopt),
             std::string("102->900002 101->900003 "));
    // The connecting bus keeps its number; a bus listed twice is searched again and keeps
    // its place in the list with the number found last.
    CHECK_EQ(choices_text({1, 2, 3}, {1, 2, 2, 3}, 1), std::string("2->900001 3->900002 "));
    CHECK_EQ(choices_text({1, 2, 3}, {4, 5}, std::nullopt), std::string());
}

TEST("renumber search wraps from 999999 to 900000 and stops when the range is used up") {
    std::vector<BusNumber> main;
    for (BusNumber bus = 900000; bus <= 999998; ++bus) main.push_back(bus);
    main.push_back(7);
    main.push_back(8);
    // Only 999999 is free: the first colliding bus takes it, the second finds none.
    try {
        choose_new_bus_numbers(main, {7, 8}, std::nullopt);
        CHECK(false);  // the range is used up
    } catch (const BusNumberRangeExhausted& error) {
        CHECK_EQ(error.bus, BusNumber{8});
        CHECK_EQ(error.first_colliding_bus, BusNumber{7});
    }
    main.pop_back();
    CHECK_EQ(choices_text(main, {7}, std::nullopt), std::string("7->999999 "));
}
