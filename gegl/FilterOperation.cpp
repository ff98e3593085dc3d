#include "gegl/FilterOperation.h"

#include "gegl/OperationProperties.h"
#include "host/EntryPoint.h"
#include "tools/host/HostScale.h"
#include "tools/host/HostSession.h"

#include <gegl-plugin.h>
#include <gegl.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <vector>

namespace quarvel::gegl {
namespace {

// The plug-in refuses smaller images, and its filter record holds sides in 16 bits.
constexpr int kMinimumSide = 6;
constexpr int kMaximumSide = 32767;

struct FilterInstance {
    GeglOperationFilter parent;
    OperationValues* values;
};

struct FilterClass {
    GeglOperationFilterClass parent;
};

GObjectClass* gParentClass = nullptr;

OperationValues& valuesOf(gpointer object) { return *static_cast<FilterInstance*>(object)->values; }

// The filter record's procedures are plain functions with one session behind them: renders of
// several nodes, which GEGL may run on several threads, take turns.
std::mutex& sessionLock()
{
    static std::mutex lock;
    return lock;
}

GeglRectangle wholeInput(GeglOperation* operation)
{
    const GeglRectangle* box = gegl_operation_source_get_bounding_box(operation, "input");
    return box ? *box : GeglRectangle { 0, 0, 0, 0 };
}

// 8-bit layers stay 8-bit; anything deeper is read as 16-bit, the plug-in's other depth. The
// layer's own colour space is kept, so that no conversion touches the samples on the way.
void prepare(GeglOperation* operation)
{
    const Babl* source = gegl_operation_get_source_format(operation, "input");
    const bool eightBit = source && babl_format_get_type(source, 0) == babl_type("u8");
    const bool alpha = !source || babl_format_has_alpha(source);
    const char* encoding
        = eightBit ? (alpha ? "R'G'B'A u8" : "R'G'B' u8") : (alpha ? "R'G'B'A u16" : "R'G'B' u16");
    const Babl* format = babl_format_with_space(encoding, source ? babl_format_get_space(source) : nullptr);
    gegl_operation_set_format(operation, "input", format);
    gegl_operation_set_format(operation, "output", format);
}

// Histograms, global tables and blurs: every output pixel depends on the whole image.
GeglRectangle requiredForOutput(GeglOperation* operation, const gchar*, const GeglRectangle*)
{
    return wholeInput(operation);
}

GeglRectangle cachedRegion(GeglOperation* operation, const GeglRectangle*) { return wholeInput(operation); }

GeglRectangle invalidatedByChange(GeglOperation* operation, const gchar*, const GeglRectangle*)
{
    return wholeInput(operation);
}

void passThrough(GeglBuffer* input, GeglBuffer* output, const GeglRectangle& whole)
{
    gegl_buffer_copy(input, &whole, GEGL_ABYSS_NONE, output, &whole);
}

// Runs the plug-in on `image` in place; false, with the image as it was, when it did not finish.
bool runPlugin(GeglOperation* operation, host::Descriptor descriptor, host::HostImage& image)
{
    static char message[] = "Quarvel";
    host::SessionOptions options;
    options.hasDescriptor = true;
    options.descriptor = std::move(descriptor);
    // GEGL has no way to say that a render is no longer wanted; it always runs to the end.
    options.abortRequested = [] { return false; };
    // The plug-in counts again for its second pass; the bar only moves forward.
    options.progress = [operation, shown = 0.0](int32_t done, int32_t total) mutable {
        if (total <= 0)
            return;
        const double fraction = std::clamp(double(done) / double(total), 0.0, 1.0);
        if (fraction > shown) {
            shown = fraction;
            gegl_operation_progress(operation, fraction, message);
        }
    };
    gegl_operation_progress(operation, 0.0, message);
    host::SessionResult result;
    {
        std::lock_guard<std::mutex> hold(sessionLock());
        host::HostSession session(&ENTRYPOINT, std::move(options));
        result = session.run(image);
    }
    gegl_operation_progress(operation, 1.0, message);
    if (result.prepareResult != pluginapi::noErr || result.startResult != pluginapi::noErr
        || !result.imageChanged) {
        g_warning(
            "quarvel:filter: the filter did not finish (prepare %d, start %d); the image is passed through "
            "unchanged",
            result.prepareResult, result.startResult);
        return false;
    }
    return true;
}

gboolean processWhole(
    GeglOperation* operation, GeglBuffer* input, GeglBuffer* output, const GeglRectangle& whole)
{
    if (whole.width <= 0 || whole.height <= 0)
        return TRUE;
    if (whole.width < kMinimumSide || whole.height < kMinimumSide || whole.width > kMaximumSide
        || whole.height > kMaximumSide) {
        g_warning("quarvel:filter: a %dx%d image is outside what the filter takes (%d to %d pixels a side); "
                  "passed through unchanged",
            whole.width, whole.height, kMinimumSide, kMaximumSide);
        passThrough(input, output, whole);
        return TRUE;
    }

    std::string warning;
    host::Descriptor descriptor = runDescriptor(valuesOf(operation), warning);
    if (!warning.empty())
        g_warning("quarvel:filter: %s", warning.c_str());

    const Babl* format = gegl_operation_get_format(operation, "output");
    host::HostImage image;
    image.width = whole.width;
    image.height = whole.height;
    image.planes = babl_format_get_n_components(format);
    image.bits = babl_format_get_bytes_per_pixel(format) / image.planes * 8;
    image.samples.resize(image.rowBytes() * size_t(image.height));
    const size_t count = size_t(image.width) * size_t(image.height) * size_t(image.planes);

    if (image.bits == 8) {
        gegl_buffer_get(
            input, &whole, 1.0, format, image.samples.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        if (runPlugin(operation, std::move(descriptor), image))
            gegl_buffer_set(output, &whole, 0, format, image.samples.data(), GEGL_AUTO_ROWSTRIDE);
        else
            passThrough(input, output, whole);
        return TRUE;
    }

    // The layer's own samples stay beside the host's, so that every sample the filter leaves
    // alone, transparency always, returns exactly as it was.
    std::vector<uint16_t> layer(count);
    gegl_buffer_get(input, &whole, 1.0, format, layer.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    auto* samples = reinterpret_cast<uint16_t*>(image.samples.data());
    for (size_t i = 0; i < count; ++i)
        samples[i] = host::fileToHost16(layer[i]);
    if (!runPlugin(operation, std::move(descriptor), image)) {
        passThrough(input, output, whole);
        return TRUE;
    }
    for (size_t i = 0; i < count; ++i)
        layer[i] = host::hostToFile16(samples[i], layer[i]);
    gegl_buffer_set(output, &whole, 0, format, layer.data(), GEGL_AUTO_ROWSTRIDE);
    return TRUE;
}

// No exception may reach GEGL's C frames: a photo too large for the memory left is passed through
// with a warning rather than taking GIMP down.
gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output, const GeglRectangle*, gint)
{
    const GeglRectangle whole = wholeInput(operation);
    try {
        return processWhole(operation, input, output, whole);
    } catch (const std::exception& e) {
        g_warning("quarvel:filter: %s; the image is passed through unchanged", e.what());
    }
    passThrough(input, output, whole);
    return TRUE;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    gegl::setProperty(valuesOf(object), id, value, pspec);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec*)
{
    gegl::getProperty(valuesOf(object), id, value);
}

void instanceInit(GTypeInstance* instance, gpointer)
{
    reinterpret_cast<FilterInstance*>(instance)->values = new OperationValues(defaultValues());
}

void finalize(GObject* object)
{
    delete static_cast<FilterInstance*>(static_cast<gpointer>(object))->values;
    gParentClass->finalize(object);
}

void classInit(gpointer klass, gpointer)
{
    gParentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
    auto* objectClass = static_cast<GObjectClass*>(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    installProperties(objectClass);

    auto* operationClass = static_cast<GeglOperationClass*>(klass);
    operationClass->prepare = prepare;
    operationClass->get_required_for_output = requiredForOutput;
    operationClass->get_cached_region = cachedRegion;
    operationClass->get_invalidated_by_change = invalidatedByChange;
    // One run for the whole image, its result kept: the plug-in threads its own work.
    operationClass->threaded = FALSE;
    operationClass->cache_policy = GEGL_CACHE_POLICY_ALWAYS;
    static_cast<GeglOperationFilterClass*>(klass)->process = process;

    gegl_operation_class_set_keys(operationClass, "name", "quarvel:filter", "title", "Quarvel", "categories",
        "light:enhance", "gimp:menu-path", "<Image>/Filters/Light and Shadow", "description",
        "Shadow and highlight recovery, color, sharpening, smoothing, glow and grain, computed on the whole "
        "image exactly as the Quarvel plug-in does",
        nullptr);
}

} // namespace

GType registerFilterOperation(GTypeModule* module)
{
    const GTypeInfo info = {
        sizeof(FilterClass),
        nullptr,
        nullptr,
        classInit,
        nullptr,
        nullptr,
        sizeof(FilterInstance),
        0,
        instanceInit,
        nullptr,
    };
    return gegl_module_register_type(
        module, GEGL_TYPE_OPERATION_FILTER, "QuarvelFilter", &info, GTypeFlags(0));
}

} // namespace quarvel::gegl
