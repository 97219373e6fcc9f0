#include "v640.h"
#include "v640_internal.h"

namespace {

// Shared by both builders: a result stays valid only until the next call of either.
char shared_frame[V640_MAX_FRAME_SIZE + 1];

using set_parameter_function = int (*)(char *, const char *, int);

char *build_frame(const v640_code_entry *table, set_parameter_function set_parameter,
                  unsigned int node, unsigned int code, const char *parameter)
{
    if (v640_init_frame(shared_frame, V640_MAX_FRAME_SIZE, node == 0) != 0 ||
        v640_set_node(shared_frame, node) != 0 || v640_set_code(shared_frame, code) != 0) {
        return nullptr;
    }
    // The fill behind the code may extend it to a longer code of the table ("0001" followed by
    // zeros reads as "0100"), and a four-digit code may start with a two-digit one ("1234" reads
    // as "12"): only the record of the code asked for will do.
    if (v640_find_code_prefix(table, shared_frame) != static_cast<int>(code)) {
        return nullptr;
    }
    if (set_parameter(shared_frame, parameter, text_size(parameter)) != 0) {
        return nullptr;
    }
    // A CR inside the parameter ends the frame early; that frame must still be one.
    const int fcs = v640_calc_fcs(shared_frame);
    if (fcs < 0 || v640_set_fcs(shared_frame, static_cast<unsigned int>(fcs)) != 0) {
        return nullptr;
    }
    return shared_frame;
}

} // namespace

char *v640_build_command_frame(unsigned int node, unsigned int code, const char *parameter)
{
    return build_frame(v640_command_list, v640_set_command_parameter, node, code, parameter);
}

char *v640_build_response_frame(unsigned int node, unsigned int code, const char *parameter)
{
    return build_frame(v640_response_list, v640_set_response_parameter, node, code, parameter);
}
