// A camera for machines without one: a GStreamer plug-in whose device
// provider reports one video source ("Velmo Test Camera", a live test
// pattern). WebKit asks a page's camera permission only when a camera
// exists, so the end-to-end tests of the media-capture policy load this
// through GST_PLUGIN_PATH.
#include <gst/gst.h>

G_BEGIN_DECLS

#define VELMO_TYPE_TEST_CAMERA_DEVICE velmo_test_camera_device_get_type()
G_DECLARE_FINAL_TYPE(VelmoTestCameraDevice,
                     velmo_test_camera_device,
                     VELMO,
                     TEST_CAMERA_DEVICE,
                     GstDevice)

#define VELMO_TYPE_TEST_CAMERA_PROVIDER velmo_test_camera_provider_get_type()
G_DECLARE_FINAL_TYPE(VelmoTestCameraProvider,
                     velmo_test_camera_provider,
                     VELMO,
                     TEST_CAMERA_PROVIDER,
                     GstDeviceProvider)

G_END_DECLS

struct _VelmoTestCameraDevice {
  GstDevice parent_instance;
};

G_DEFINE_TYPE(VelmoTestCameraDevice, velmo_test_camera_device, GST_TYPE_DEVICE)

static GstElement* velmo_test_camera_device_create_element(GstDevice*,
                                                           const gchar* name) {
  GstElement* source = gst_element_factory_make("videotestsrc", name);
  if (source != nullptr) {
    g_object_set(source, "is-live", TRUE, nullptr);
  }
  return source;
}

static void velmo_test_camera_device_class_init(
    VelmoTestCameraDeviceClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element =
      velmo_test_camera_device_create_element;
}

static void velmo_test_camera_device_init(VelmoTestCameraDevice*) {}

static GstDevice* NewCamera() {
  GstCaps* caps = gst_caps_from_string(
      "video/x-raw,format=I420,width=640,height=480,framerate=30/1");
  GstStructure* properties = gst_structure_new(
      "properties", "device.path", G_TYPE_STRING, "velmo-test-camera", nullptr);
  auto* device = GST_DEVICE(
      g_object_new(VELMO_TYPE_TEST_CAMERA_DEVICE, "display-name",
                   "Velmo Test Camera", "device-class", "Video/Source", "caps",
                   caps, "properties", properties, nullptr));
  gst_caps_unref(caps);
  gst_structure_free(properties);
  return device;
}

struct _VelmoTestCameraProvider {
  GstDeviceProvider parent_instance;
};

G_DEFINE_TYPE(VelmoTestCameraProvider,
              velmo_test_camera_provider,
              GST_TYPE_DEVICE_PROVIDER)

static GList* velmo_test_camera_provider_probe(GstDeviceProvider*) {
  return g_list_append(nullptr, gst_object_ref_sink(NewCamera()));
}

static gboolean velmo_test_camera_provider_start(GstDeviceProvider* provider) {
  gst_device_provider_device_add(provider, NewCamera());
  return TRUE;
}

static void velmo_test_camera_provider_stop(GstDeviceProvider*) {}

static void velmo_test_camera_provider_class_init(
    VelmoTestCameraProviderClass* klass) {
  GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
  provider->probe = velmo_test_camera_provider_probe;
  provider->start = velmo_test_camera_provider_start;
  provider->stop = velmo_test_camera_provider_stop;
  gst_device_provider_class_set_static_metadata(
      provider, "Velmo test camera", "Source/Video",
      "One live test-pattern camera", "Velmo");
}

static void velmo_test_camera_provider_init(VelmoTestCameraProvider*) {}

static gboolean PluginInit(GstPlugin* plugin) {
  return gst_device_provider_register(plugin, "velmotestcamera",
                                      GST_RANK_PRIMARY,
                                      VELMO_TYPE_TEST_CAMERA_PROVIDER);
}

#define PACKAGE "velmo"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR,
                  GST_VERSION_MINOR,
                  velmotestcamera,
                  "A test-pattern camera for end-to-end tests",
                  PluginInit,
                  "1.0",
                  "unknown",
                  "velmo",
                  "velmo")
