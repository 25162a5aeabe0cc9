// The routine shared by every adder: walk an element table of the small case row by row,
// build each call's keywords from the row as the element's table says, record each
// engine code under the element's key, and save the working case.
#include <string>
#include <vector>

#include "adder_table.hpp"
#include "common/paths.hpp"
#include "common/python_files.hpp"
#include "study/case_copy.hpp"

namespace gridfold::engine {

namespace {

// Re-raises `error` with the same exception type, `where` naming the table, column and
// row at fault, and the original error chained as the cause.
[[noreturn]] void raise_at(py::error_already_set& error, const std::string& where) {
    const std::string message = where + ": " + py::str(error.value()).cast<std::string>();
    py::raise_from(error, error.type().ptr(), message.c_str());
    throw py::error_already_set();
}

// The table of one adder call and the position reached in it.
struct RowCursor {
    const ElementTable& table;
    py::object columns;
    double version;
    py::ssize_t row = 0;
    int winding = 0;

    std::string at(const std::string& column) const {
        return table.method + ": table " + table.table + ", column " + column + ", row " + std::to_string(row);
    }

    py::object column(const std::string& name) const {
        try {
            return columns[py::str(name)];
        } catch (py::error_already_set& e) {
            raise_at(e, table.method + ": table " + table.table + " has no column " + name);
        }
    }

    // column[row] followed by the index steps.
    py::object entry(const std::string& name, const std::vector<int>& steps) const {
        py::object values = column(name);
        try {
            py::object value = values[py::int_(row)];
            for (int step : steps) value = value[py::int_(step == kCurrentWinding ? winding : step)];
            return value;
        } catch (py::error_already_set& e) {
            raise_at(e, at(name));
        }
    }

    py::object value(const ValueSource& source) const {
        switch (source.kind) {
            case ValueSource::Kind::Constant:
                return py::int_(source.constant);
            case ValueSource::Kind::WindingNumber:
                return py::int_(winding + 1);
            case ValueSource::Kind::FirstNonzeroOfTwoWindings: {
                py::object first = entry(source.column, {0});
                return first.not_equal(py::int_(0)) ? first : entry(source.column, {1});
            }
            case ValueSource::Kind::Column:
                return column_value(source);
        }
        return py::none();
    }

    py::object column_value(const ValueSource& source) const {
        if (source.zero_unless_version_above && !(version > *source.zero_unless_version_above))
            return py::int_(0);
        py::object value = entry(source.column, source.steps);
        try {
            if (source.part == ValueSource::Part::Real) value = value.attr("real");
            if (source.part == ValueSource::Part::Imaginary) value = value.attr("imag");
            if (source.times_100) value = value * py::int_(100);
        } catch (py::error_already_set& e) {
            raise_at(e, at(source.column));
        }
        return value;
    }

    py::str key(const std::vector<KeyPiece>& pieces) const {
        std::string text;
        for (const auto& piece : pieces)
            text += piece.value ? py::str(value(*piece.value)).cast<std::string>() : piece.text;
        return py::str(text);
    }
};

py::object table_of(const ElementTable& table, const py::object& small_case) {
    try {
        return small_case.attr(table.table.c_str());
    } catch (py::error_already_set& e) {
        raise_at(e, table.method + ": the small case has no table " + table.table);
    }
}

// The row count as stored in the case data object (the length of NUM, or a count attribute
// used unchanged), and the same count as a number of rows to walk.
std::pair<py::object, py::ssize_t> row_count(const RowCursor& cursor, const py::object& small_case) {
    const ElementTable& table = cursor.table;
    if (table.count_attribute.empty()) {
        const auto rows = static_cast<py::ssize_t>(py::len(cursor.column("NUM")));
        return {py::int_(rows), rows};
    }
    try {
        py::object count = small_case.attr(table.count_attribute.c_str());
        auto index = py::reinterpret_steal<py::object>(PyNumber_Index(count.ptr()));
        if (!index) throw py::error_already_set();
        const py::ssize_t rows = PyNumber_AsSsize_t(index.ptr(), PyExc_OverflowError);
        if (rows == -1 && PyErr_Occurred()) throw py::error_already_set();
        return {count, rows};
    } catch (py::error_already_set& e) {
        raise_at(e, table.method + ": row count " + table.count_attribute + " of the small case");
    }
}

bool applies_to_row(const CallRule& call, const RowCursor& cursor) {
    if (call.rows == CallRule::Rows::All) return true;
    const bool two_winding = cursor.value(*cursor.table.third_bus).equal(py::int_(0));
    return two_winding == (call.rows == CallRule::Rows::TwoWinding);
}

void walk_rows(PsseEngine& engine, const ElementTable& table, const py::object& small_case, py::dict* status) {
    RowCursor cursor{table, table_of(table, small_case), engine.version};
    const auto [count, rows] = row_count(cursor, small_case);
    if (status) (*status)[py::str(table.total_key)] = count;

    // Entry points are bound once, before the first row; none when the version has no call.
    std::vector<py::object> entry_points;
    for (const auto& call : table.calls) {
        const auto name = pick_by_version(engine.version, call.entry_points);
        entry_points.push_back(name ? py::object(engine.psspy.attr(name->c_str())) : py::object(py::none()));
    }

    for (cursor.row = 0; cursor.row < rows; ++cursor.row) {
        for (std::size_t c = 0; c < table.calls.size(); ++c) {
            const CallRule& call = table.calls[c];
            if (!applies_to_row(call, cursor)) continue;
            for (cursor.winding = 0; cursor.winding < call.windings; ++cursor.winding) {
                // The keywords are read even when the version has no call, so that a faulty
                // table raises whatever the version.
                py::dict kwargs;
                for (const auto& rule : call.keywords)
                    if (engine.version >= rule.passed_from_version)
                        kwargs[py::str(rule.keyword)] = cursor.value(rule.source);
                py::object code = py::int_(kNoEngineCallForVersion);
                if (!entry_points[c].is_none()) {
                    py::object result = entry_points[c](**kwargs);
                    code = call.result == CallRule::Result::FirstOfPair ? py::object(result[py::int_(0)]) : result;
                }
                // A nonzero code is recorded and nothing else: no retry, no message.
                if (status && !call.status_key.empty()) (*status)[cursor.key(call.status_key)] = code;
            }
        }
    }
}

}  // namespace

py::dict add_elements(PsseEngine& engine, const ElementTable& table, const py::object& small_case,
                      const py::object& main_case_name, const py::object& small_case_name,
                      const py::object& directory_to_save_files) {
    const std::string save_name =
        py::str(main_case_name).cast<std::string>() + table.infix + py::str(small_case_name).cast<std::string>();
    py::dict status;
    walk_rows(engine, table, small_case, &status);
    // Reached only when every row was read: a fault in the table leaves nothing saved.
    const std::string path = common::join_path(common::path_text(directory_to_save_files), save_name);
    engine.psspy.attr("save")(py::str(study::saved_case_path(path)));
    return status;
}

void change_elements(PsseEngine& engine, const ElementTable& table, const py::object& small_case) {
    walk_rows(engine, table, small_case, nullptr);
}

}  // namespace gridfold::engine
