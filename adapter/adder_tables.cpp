// The adders as data: one table per element kind, read by the shared routine of
// adder_routine.cpp. Each keyword list reads top to bottom in the order the keywords are
// passed; `spread` lines stand for runs such as intgar3 ... intgar6 = OWNER[i][0] ... [3].
// Powers per unit on 100 MVA in the case data are passed ×100 (MW, Mvar).
#include "adder_table.hpp"

namespace gridfold::engine {

namespace {

using Rows = CallRule::Rows;
using Result = CallRule::Result;

// Buses: one bus_data_4 call per row, for every engine version.
const ElementTable kBuses{
    .method = "add_buses",
    .elements = "buses",
    .table = "pssbus",
    .count_attribute = "",
    .infix = "_added_bus_",
    .total_key = "total_bus",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = always("bus_data_4"),
        .status_key = {col("NUM")},
        .keywords = keywords({
            {"ibus", col("NUM")},
            {"inode", constant(0)},
            {"intgar1", col("IDE")},
            {"intgar2", col("AREA")},
            {"intgar3", col("ZONE")},
            {"intgar4", col("OWNER")},
            {"realar1", col("BASKV")},
            {"realar2", col("VM")},
            {"realar3", col("VA")},
            {"realar4", col("NMAXV")},
            {"realar5", col("NMINV")},
            {"realar6", col("EMAXV")},
            {"realar7", col("EMINV")},
            {"name", col("NAME")},
        }),
    }},
};

// Line branches: the same 34 keywords for both entry points.
const ElementTable kLineBranches{
    .method = "add_line_branch",
    .elements = "line branches",
    .table = "casbrn",
    .count_attribute = "cas_nbrn",
    .infix = "_added_line_",
    .total_key = "total_line_branch",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = {{36.0, "branch_data_4"}, {34.0, "branch_data_3"}},
        .status_key = {col("FRMBUS"), " to ", col("TOBUS"), ", Ckt:", col("CKT")},
        .keywords = keywords({
            {"ibus", col("FRMBUS")},
            {"jbus", col("TOBUS")},
            {"ckt", col("CKT")},
            {"intgar1", col("STAT")},
            {"intgar2", col("METBUS")},
            spread("intgar", 3, 6, col("OWNER")),
            {"realar1", real(col("RX"))},
            {"realar2", imag(col("RX"))},
            {"realar3", col("B")},
            {"realar4", real(col("GBI"))},
            {"realar5", imag(col("GBI"))},
            {"realar6", real(col("GBJ"))},
            {"realar7", imag(col("GBJ"))},
            {"realar8", col("LINLEN")},
            spread("realar", 9, 12, col("OWNPCT")),
            spread("ratings", 1, 12, col("RATINGS")),
            {"namear", col("BRNAME")},
        }),
    }},
};

// Transformers: a row whose third bus is 0 is a two-winding transformer (one call); any
// other row is a three-winding transformer (impedance data, then windings 1, 2, 3). Node
// and impedance-code slots are passed as 0 up to version 34 (compared with the integer 34).
const ElementTable kTransformers{
    .method = "add_trn_branch",
    .elements = "two- and three-winding transformers",
    .table = "castrn",
    .count_attribute = "cas_ntrn",
    .infix = "_added_trn_",
    .total_key = "total_trn_branch",
    .third_bus = col("BUSNUM", 2),
    .calls = {
        {
            .rows = Rows::TwoWinding,
            .entry_points = always("two_winding_data_6"),
            .result = Result::FirstOfPair,
            .status_key = {col("BUSNUM", 0), " to ", col("BUSNUM", 1), ", Ckt:", col("CKT")},
            .keywords = keywords({
                {"ibus", col("BUSNUM", 0)},
                {"jbus", col("BUSNUM", 1)},
                {"ckt", col("CKT")},
                {"intgar1", col("STAT")},
                {"intgar2", col("METBUS")},
                spread("intgar", 3, 6, col("OWNER")),
                {"intgar7", first_nonzero_of_windings("NTAPS")},
                {"intgar8", col("TABLE", 0)},
                {"intgar10", first_nonzero_of_windings("CONBUS")},
                {"intgar11", zero_unless_version_above(34, col("NOD", 0))},
                {"intgar13", first_nonzero_of_windings("CNTL")},
                {"intgar14", col("CW")},
                {"intgar15", col("CZ")},
                {"intgar16", col("CM")},
                {"realari1", real(col("RX", 0))},
                {"realari2", imag(col("RX", 0))},
                {"realari3", col("SBASE", 0)},
                {"realari4", col("WIND", 0)},
                {"realari5", col("NOMV", 0)},
                {"realari6", first_nonzero_of_windings("ANG")},
                {"realari7", col("WIND", 1)},
                {"realari8", col("NOMV", 1)},
                spread("realari", 9, 12, col("OWNPCT")),
                {"realari13", col("MAG1")},
                {"realari14", col("MAG2")},
                {"realari15", first_nonzero_of_windings("RMAX")},
                {"realari16", first_nonzero_of_windings("RMIN")},
                {"realari17", first_nonzero_of_windings("VMAX")},
                {"realari18", first_nonzero_of_windings("VMIN")},
                {"realari19", real(col("XFRCMP", 0))},
                {"realari20", imag(col("XFRCMP", 0))},
                {"realari21", col("CNXA", 0)},
                spread("ratings", 1, 12, col("RATINGS", 0)),
                {"namear", col("TRNAME")},
                {"vgrpar", col("VECGRP")},
            }),
        },
        {
            .rows = Rows::ThreeWinding,
            .entry_points = always("three_wnd_imped_data_4"),
            .result = Result::FirstOfPair,
            .status_key = {col("BUSNUM", 0), " to ", col("BUSNUM", 1), " to ", col("BUSNUM", 2), ", Id:",
                           col("CKT")},
            .keywords = keywords({
                {"ibus", col("BUSNUM", 0)},
                {"jbus", col("BUSNUM", 1)},
                {"kbus", col("BUSNUM", 2)},
                {"ckt", col("CKT")},
                spread("intgar", 1, 4, col("OWNER")),
                {"intgar5", col("CW")},
                {"intgar6", col("CZ")},
                {"intgar7", col("CM")},
                {"intgar8", col("STAT")},
                {"intgar9", col("METBUS")},
                {"intgar12", zero_unless_version_above(34, col("ZCOD"))},
                {"realari1", real(col("RX", 0))},
                {"realari2", imag(col("RX", 0))},
                {"realari3", real(col("RX", 1))},
                {"realari4", imag(col("RX", 1))},
                {"realari5", real(col("RX", 2))},
                {"realari6", imag(col("RX", 2))},
                spread("realari", 7, 9, col("SBASE")),
                {"realari10", col("MAG1")},
                {"realari11", col("MAG2")},
                spread("realari", 12, 15, col("OWNPCT")),
                {"namear", col("TRNAME")},
                {"vgrpar", col("VECGRP")},
            }),
        },
        {
            .rows = Rows::ThreeWinding,
            .entry_points = always("three_wnd_winding_data_5"),
            .windings = 3,
            .result = Result::FirstOfPair,
            .status_key = {col("BUSNUM", 0), " to ", col("BUSNUM", 1), " to ", col("BUSNUM", 2), " WINDING ",
                           winding_number(), ", Ckt:", col("CKT")},
            .keywords = keywords({
                {"ibus", col("BUSNUM", 0)},
                {"jbus", col("BUSNUM", 1)},
                {"kbus", col("BUSNUM", 2)},
                {"ckt", col("CKT")},
                {"warg", winding_number()},
                {"intgar1", winding("NTAPS")},
                {"intgar2", winding("TABLE")},
                {"intgar3", winding("CONBUS")},
                {"intgar4", zero_unless_version_above(34, winding("NOD"))},
                {"intgar6", winding("CNTL")},
                {"realari1", winding("WIND")},
                {"realari2", winding("NOMV")},
                {"realari3", winding("ANG")},
                {"realari4", winding("RMAX")},
                {"realari5", winding("RMIN")},
                {"realari6", winding("VMAX")},
                {"realari7", winding("VMIN")},
                {"realari8", real(winding("XFRCMP"))},
                {"realari9", imag(winding("XFRCMP"))},
                {"realari10", winding("CNXA")},
                spread("ratings", 1, 12, winding("RATINGS")),
            }),
        },
    },
};

// Generators: the plant record of the machine's bus, then the machine. From 36.0 the
// machine call also takes the base-load flag and the machine name (27 keywords, else 25).
const ElementTable kGenerators{
    .method = "add_gen",
    .elements = "plants and machines",
    .table = "pssgen",
    .count_attribute = "",
    .infix = "_added_gen_",
    .total_key = "total_gen",
    .third_bus = std::nullopt,
    .calls = {
        {
            .entry_points = always("plant_data_4"),
            .status_key = {"Plant ", col("NUM")},
            .keywords = keywords({
                {"ibus", col("NUM")},
                {"inode", constant(0)},
                {"intgar1", col("IREG")},
                {"intgar2", zero_unless_version_above(34, col("NREG"))},
                {"realar1", col("VS")},
                {"realar2", col("RMPCT")},
            }),
        },
        {
            .entry_points = {{36.0, "machine_data_5"},
                             {35.3, "machine_data_4"},
                             {35.0, "machine_data_3"},
                             {31.0, "machine_data_2"}},
            .status_key = {"Gen ", col("NUM"), ", Id:", col("IDE")},
            .keywords = keywords({
                {"ibus", col("NUM")},
                {"id", col("IDE")},
                {"intgar1", col("STAT")},
                spread("intgar", 2, 5, col("OWNER")),
                {"intgar6", col("WMOD")},
                since(36.0, {"intgar7", col("BASLOD")}),
                {"realar1", times_100(col("PG"))},
                {"realar2", times_100(col("QG"))},
                {"realar3", times_100(col("QT"))},
                {"realar4", times_100(col("QB"))},
                {"realar5", times_100(col("PT"))},
                {"realar6", times_100(col("PB"))},
                {"realar7", col("MBASE")},
                {"realar8", real(col("ZSORCE"))},
                {"realar9", imag(col("ZSORCE"))},
                {"realar10", real(col("XTRAN"))},
                {"realar11", imag(col("XTRAN"))},
                {"realar12", col("GTAP")},
                spread("realar", 13, 16, col("OWNPCT")),
                {"realar17", col("WPF")},
                since(36.0, {"namear2", col("MCNAME")}),
            }),
        },
    },
};

// modify_gen: reactive output and limits of machines already in the working case; five
// keywords for every version.
const ElementTable kGeneratorChanges{
    .method = "modify_gen",
    .table = "pssgen",
    .count_attribute = "",
    .infix = "",
    .total_key = "",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = {{36.0, "machine_chng_5"},
                         {35.3, "machine_chng_4"},
                         {35.0, "machine_chng_3"},
                         {31.0, "machine_chng_2"}},
        .status_key = {},
        .keywords = keywords({
            {"ibus", col("NUM")},
            {"id", col("IDE")},
            {"realar2", times_100(col("QG"))},
            {"realar3", times_100(col("QT"))},
            {"realar4", times_100(col("QB"))},
        }),
    }},
};

// Fixed shunts: the same five keywords for both entry points.
const ElementTable kFixedShunts{
    .method = "add_fixed_shunt",
    .elements = "fixed shunts",
    .table = "pssfsh",
    .count_attribute = "",
    .infix = "_added_fixed_shunt_",
    .total_key = "total_fsh",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = {{36.0, "shunt_data_2"}, {31.0, "shunt_data"}},
        .status_key = {"Fixed Shunt ", col("NUM"), ", Id:", col("ID")},
        .keywords = keywords({
            {"ibus", col("NUM")},
            {"id", col("ID")},
            {"intgar1", col("STATUS")},
            {"realar1", times_100(real(col("SHUNT")))},
            {"realar2", times_100(imag(col("SHUNT")))},
        }),
    }},
};

// Switched shunts: 28 keywords from 34.4 (the first block status only), 35 from 35.0 (all
// eight block statuses), 36 from 36.0 (and the name). Below 34.4 the engine has no call
// for them: each row is recorded with kNoEngineCallForVersion. The per-shunt keys say
// "Switched Shunt ", so that the report never shows a switched shunt as a fixed one.
const ElementTable kSwitchedShunts{
    .method = "add_switched_shunt",
    .elements = "switched shunts",
    .table = "psswsh",
    .count_attribute = "",
    .infix = "_added_switched_shunt_",
    .total_key = "total_swsh",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = {{36.0, "switched_shunt_data_6"},
                         {35.0, "switched_shunt_data_5"},
                         {34.4, "switched_shunt_data_4"}},
        .status_key = {"Switched Shunt ", col("NUM"), ", Id:", col("ID")},
        .keywords = keywords({
            {"ibus", col("NUM")},
            {"id", col("ID")},
            spread("intgar", 1, 8, col("NI")),
            {"intgar9", col("MODSW")},
            {"intgar10", col("SWREM")},
            {"intgar11", col("SWNOD")},
            {"intgar12", col("STAT")},
            {"intgar13", col("ADJM")},
            {"intgar14", col("SI", 0)},
            since(35.0, spread("intgar", 15, 21, col("SI"), 1)),
            spread("realar", 1, 8, times_100(col("BI"))),
            {"realar9", col("VSWHI")},
            {"realar10", col("VSWLO")},
            {"realar11", col("BINIT")},
            {"realar12", col("RMPCT")},
            since(36.0, {"swsnam", col("SWNAME")}),
        }),
    }},
};

// Loads: 17 keywords, 18 from 36.0 (the name). load_data_5 serves every version from
// 34.0, the oldest version an engine starts with, so that no load is left out.
const ElementTable kLoads{
    .method = "add_load",
    .elements = "loads",
    .table = "psslod",
    .count_attribute = "",
    .infix = "_added_load_",
    .total_key = "total_lod",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = {{36.0, "load_data_7"}, {35.0, "load_data_6"}, {34.0, "load_data_5"}},
        .status_key = {"Load ", col("NUM"), ", Id:", col("ID")},
        .keywords = keywords({
            {"ibus", col("NUM")},
            {"id", col("ID")},
            {"intgar1", col("STATUS")},
            {"intgar2", col("AREA")},
            {"intgar3", col("ZONE")},
            {"intgar4", col("OWNER")},
            {"intgar5", col("LDSCALE")},
            {"intgar6", col("LDINT")},
            {"intgar7", col("DGENM")},
            {"realar1", times_100(real(col("LOAD", 0)))},
            {"realar2", times_100(imag(col("LOAD", 0)))},
            {"realar3", times_100(real(col("LOAD", 1)))},
            {"realar4", times_100(imag(col("LOAD", 1)))},
            {"realar5", times_100(real(col("LOAD", 2)))},
            {"realar6", times_100(imag(col("LOAD", 2)))},
            {"realar7", times_100(real(col("DGENPQ")))},
            {"realar8", times_100(imag(col("DGENPQ")))},
            since(36.0, {"ldname", col("LDNAME")}),
        }),
    }},
};

// Induction machines: 34 keywords, 35 from 36.0 (the name), every value unscaled. The
// per-machine keys say "Induction Machine ", so that the report never shows one as a load.
const ElementTable kInductionMachines{
    .method = "add_induction_machine",
    .elements = "induction machines",
    .table = "pssind",
    .count_attribute = "",
    .infix = "_added_ind_",
    .total_key = "total_ind",
    .third_bus = std::nullopt,
    .calls = {{
        .entry_points = {{36.0, "induction_machine_data_2"}, {33.0, "induction_machine_data"}},
        .status_key = {"Induction Machine ", col("NUM"), ", Id:", col("ID")},
        .keywords = keywords({
            {"ibus", col("NUM")},
            {"id", col("ID")},
            {"intgar1", col("STATUS")},
            {"intgar2", col("SCODE")},
            {"intgar3", col("DCODE")},
            {"intgar4", col("AREA")},
            {"intgar5", col("ZONE")},
            {"intgar6", col("OWNER")},
            {"intgar7", col("TCODE")},
            {"intgar8", col("BCODE")},
            {"intgar9", col("PCODE")},
            {"realar1", col("MBASE")},
            {"realar2", col("RATEKV")},
            {"realar3", col("PSET")},
            {"realar4", col("H")},
            {"realar5", col("A")},
            {"realar6", col("B")},
            {"realar7", col("D")},
            {"realar8", col("E")},
            {"realar9", col("RA")},
            {"realar10", col("XA")},
            {"realar11", col("XM")},
            {"realar12", col("R1")},
            {"realar13", col("X1")},
            {"realar14", col("R2")},
            {"realar15", col("X2")},
            {"realar16", col("X3")},
            {"realar17", col("E1")},
            {"realar18", col("SE1")},
            {"realar19", col("E2")},
            {"realar20", col("SE2")},
            {"realar21", col("IA1")},
            {"realar22", col("IA2")},
            {"realar23", col("IAM")},
            since(36.0, {"indnamear", col("IMNAME")}),
        }),
    }},
};

}  // namespace

const std::vector<const ElementTable*>& adder_tables() {
    static const std::vector<const ElementTable*> tables = {&kBuses,      &kLineBranches,   &kTransformers, &kGenerators,
                                                            &kFixedShunts, &kSwitchedShunts, &kLoads,        &kInductionMachines};
    return tables;
}

void PsseEngine::modify_gen(const py::object& small_case) { change_elements(*this, kGeneratorChanges, small_case); }

}  // namespace gridfold::engine
