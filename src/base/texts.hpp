// Every text that clients, logs and calling programs see from the module.
//
// They are kept exactly as programs already know them: clients match the
// decoder's error texts, log watchers look for the progress lines, callers
// compare exception messages and type names. Odd spellings ("intanstiate")
// and wordings ("newtype struct", "unit variant") are part of that
// contract: none of them changes with the code around it. Texts that only
// this module's own additions print are written where they are used.
#pragma once

#include <array>
#include <string_view>

namespace vantu::texts {

// Errors raised into Python.
inline constexpr std::string_view bad_server_state = "Bad Server state";
inline constexpr std::string_view closed_channel = "sending on a closed channel";
inline constexpr std::string_view already_borrowed = "Already borrowed";
inline constexpr std::string_view no_constructor = "No constructor defined";
inline constexpr std::string_view os_error_open = " (os error ";
inline constexpr std::string_view os_error_close = ")";
inline constexpr std::string_view write_incomplete = "failed to write whole buffer";

// Addresses, as open() reports them inside its fatal text.
inline constexpr std::string_view invalid_address = "invalid socket address";
inline constexpr std::string_view invalid_port = "invalid port value";
inline constexpr std::string_view lookup_failed = "failed to lookup address information: ";
inline constexpr std::string_view no_addresses = "could not resolve to any addresses";

// Fatal errors: written to standard error, raised as PanicException.
inline constexpr std::string_view listener_failed = "Unable to intanstiate TCP Listener. ";
inline constexpr std::string_view accept_failed = "Unable to get new TCP connection. ";
inline constexpr std::string_view spawn_failed = "failed to spawn thread";
inline constexpr std::string_view read_failed = "Failed to read frame : ";
inline constexpr std::string_view shutdown_failed = "Failed to shutdown server: ";
inline constexpr std::string_view action_failed = "Action failed ";
inline constexpr std::string_view exception_str_failed = "<exception str() failed>";
inline constexpr std::string_view payload_unbound = "Python data failed to be bound: ";
inline constexpr std::string_view serialization_failed = "Serialization error : ";

// The serve loop's progress lines.
inline constexpr std::string_view received = "Received size : ";
inline constexpr std::string_view no_key = "No key ";
inline constexpr std::string_view key_not_found = " found";
inline constexpr std::string_view found_frame = "Found frame ! ";
inline constexpr std::string_view running_action = "running action";
inline constexpr std::string_view after_function = "after function";
inline constexpr std::string_view done = "done";
inline constexpr std::string_view link_broken = "Link broken";
inline constexpr std::string_view terminating = "Terminating.";

// Python type names: every class reports the module "builtins".
inline constexpr std::string_view type_module = "builtins.";

// Why a result payload was refused; the type name stands between the parts.
inline constexpr std::string_view unbound_confirm =
    "failed to extract enum ResultBinding ('Confirm | Error'): variant Confirm: '";
inline constexpr std::string_view unbound_error =
    "' object cannot be converted to 'ConfirmResult'; variant Error: '";
inline constexpr std::string_view unbound_end = "' object cannot be converted to 'ErrorResult'";

}  // namespace vantu::texts

// The decoder's texts, assembled into "invalid type: integer `1`, expected
// a boolean" and the like.
namespace vantu::texts::decode {

inline constexpr std::string_view marker_eof =
    "IO error while reading marker: failed to fill whole buffer";
inline constexpr std::string_view data_eof =
    "IO error while reading data: failed to fill whole buffer";
inline constexpr std::string_view payload_eof = "IO error while reading data: unexpected end of file";
inline constexpr std::string_view wrong_marker = "wrong msgpack marker ";
inline constexpr std::string_view length_mismatch = "array had incorrect length, expected ";
inline constexpr std::string_view invalid_utf8 = "string found to be invalid utf8: ";
inline constexpr std::string_view depth_exceeded = "depth limit exceeded";

inline constexpr std::string_view invalid_type = "invalid type: ";
inline constexpr std::string_view invalid_value = "invalid value: ";
inline constexpr std::string_view invalid_length = "invalid length ";
inline constexpr std::string_view expected = ", expected ";
inline constexpr std::string_view missing_field = "missing field `";
inline constexpr std::string_view duplicate_field = "duplicate field `";
inline constexpr std::string_view unknown_variant = "unknown variant `";
inline constexpr std::string_view one_of = "`, expected one of ";
inline constexpr std::string_view backtick = "`";

// What was found.
inline constexpr std::string_view unit_value = "unit value";
inline constexpr std::string_view sequence = "sequence";
inline constexpr std::string_view map = "map";
inline constexpr std::string_view newtype_struct = "newtype struct";
inline constexpr std::string_view byte_array = "byte array";
inline constexpr std::string_view unit_variant = "unit variant";
inline constexpr std::string_view boolean = "boolean `";
inline constexpr std::string_view integer = "integer `";
inline constexpr std::string_view floating_point = "floating point `";
inline constexpr std::string_view string = "string ";
inline constexpr std::string_view nan = "NaN";
inline constexpr std::string_view infinity = "inf";

// What was expected. A record is "struct Frame"; a widget's field list is
// "struct variant WidgetRegistry::Joystick"; a short array adds " with 2
// elements".
inline constexpr std::string_view record = "struct ";
inline constexpr std::string_view variant_record = "struct variant WidgetRegistry::";
inline constexpr std::string_view with = " with ";
inline constexpr std::string_view element = " element";
inline constexpr std::string_view elements = " elements";
inline constexpr std::string_view field_identifier = "field identifier";
inline constexpr std::string_view variant_identifier = "variant identifier";
inline constexpr std::string_view variant_index = "variant index 0 <= i < ";
inline constexpr std::string_view widget_enum = "enum WidgetRegistry";
inline constexpr std::string_view any_variant_record = "struct variant";
inline constexpr std::string_view u8 = "u8";
inline constexpr std::string_view a_boolean = "a boolean";
inline constexpr std::string_view f32 = "f32";

// UTF-8 faults.
inline constexpr std::string_view bad_sequence = "invalid utf-8 sequence of ";
inline constexpr std::string_view bytes_from = " bytes from index ";
inline constexpr std::string_view incomplete_sequence = "incomplete utf-8 byte sequence from index ";

// MessagePack marker names: "FixPos", "FixMap", "FixArray", "FixStr" and
// "FixNeg" carry the marker's value in parentheses; the markers from 0xC0
// to 0xDF, in byte order, have a fixed name.
inline constexpr std::string_view fix_pos = "FixPos";
inline constexpr std::string_view fix_map = "FixMap";
inline constexpr std::string_view fix_array = "FixArray";
inline constexpr std::string_view fix_str = "FixStr";
inline constexpr std::string_view fix_neg = "FixNeg";
inline constexpr std::array<std::string_view, 32> fixed_marker_names = {
    "Null",    "Reserved", "False",   "True",    "Bin8",    "Bin16",   "Bin32",
    "Ext8",    "Ext16",    "Ext32",   "F32",     "F64",     "U8",      "U16",
    "U32",     "U64",      "I8",      "I16",     "I32",     "I64",     "FixExt1",
    "FixExt2", "FixExt4",  "FixExt8", "FixExt16", "Str8",   "Str16",   "Str32",
    "Array16", "Array32",  "Map16",   "Map32",
};

}  // namespace vantu::texts::decode
