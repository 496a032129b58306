// FlValue: reference-counted, non-atomic, main-thread values.
#include <flutter_linux/flutter_linux.h>

#include <string>
#include <vector>

struct _FlValue {
  explicit _FlValue(FlValueType t) : type(t) {}

  FlValueType type;
  int ref_count = 1;
  bool b = false;
  int64_t i = 0;
  double f = 0.0;
  std::string s;
  std::vector<uint8_t> u8;
  std::vector<int32_t> i32;
  std::vector<int64_t> i64;
  std::vector<float> f32;
  std::vector<double> f64;
  // LIST children, or MAP keys with `values` beside them.
  std::vector<FlValue*> children;
  std::vector<FlValue*> values;
};

namespace {

bool CheckType(FlValue* value, FlValueType type) {
  g_return_val_if_fail(value != nullptr, false);
  g_return_val_if_fail(value->type == type, false);
  return true;
}

template <typename T>
bool VectorsEqual(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); i++) {
    // Elementwise ==, so NaN differs and 0.0 equals -0.0.
    if (!(a[i] == b[i])) {
      return false;
    }
  }
  return true;
}

ssize_t FindKey(FlValue* map, FlValue* key) {
  for (size_t i = 0; i < map->children.size(); i++) {
    if (fl_value_equal(map->children[i], key)) {
      return static_cast<ssize_t>(i);
    }
  }
  return -1;
}

}  // namespace

FlValue* fl_value_new_null(void) {
  return new FlValue(FL_VALUE_TYPE_NULL);
}

FlValue* fl_value_new_bool(bool value) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_BOOL);
  v->b = value;
  return v;
}

FlValue* fl_value_new_int(int64_t value) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_INT);
  v->i = value;
  return v;
}

FlValue* fl_value_new_float(double value) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_FLOAT);
  v->f = value;
  return v;
}

FlValue* fl_value_new_string(const gchar* value) {
  g_return_val_if_fail(value != nullptr, nullptr);
  FlValue* v = new FlValue(FL_VALUE_TYPE_STRING);
  v->s = value;
  return v;
}

FlValue* fl_value_new_string_sized(const gchar* value, size_t value_length) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_STRING);
  if (value != nullptr) {
    v->s.assign(value, strnlen(value, value_length));
  }
  return v;
}

FlValue* fl_value_new_uint8_list(const uint8_t* value, size_t value_length) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_UINT8_LIST);
  if (value_length > 0) {
    v->u8.assign(value, value + value_length);
  }
  return v;
}

FlValue* fl_value_new_int32_list(const int32_t* value, size_t value_length) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_INT32_LIST);
  if (value_length > 0) {
    v->i32.assign(value, value + value_length);
  }
  return v;
}

FlValue* fl_value_new_int64_list(const int64_t* value, size_t value_length) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_INT64_LIST);
  if (value_length > 0) {
    v->i64.assign(value, value + value_length);
  }
  return v;
}

FlValue* fl_value_new_float32_list(const float* value, size_t value_length) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_FLOAT32_LIST);
  if (value_length > 0) {
    v->f32.assign(value, value + value_length);
  }
  return v;
}

FlValue* fl_value_new_float_list(const double* value, size_t value_length) {
  FlValue* v = new FlValue(FL_VALUE_TYPE_FLOAT_LIST);
  if (value_length > 0) {
    v->f64.assign(value, value + value_length);
  }
  return v;
}

FlValue* fl_value_new_list(void) {
  return new FlValue(FL_VALUE_TYPE_LIST);
}

FlValue* fl_value_new_map(void) {
  return new FlValue(FL_VALUE_TYPE_MAP);
}

FlValue* fl_value_ref(FlValue* value) {
  g_return_val_if_fail(value != nullptr, nullptr);
  value->ref_count++;
  return value;
}

void fl_value_unref(FlValue* value) {
  g_return_if_fail(value != nullptr);
  g_return_if_fail(value->ref_count > 0);
  if (--value->ref_count > 0) {
    return;
  }
  for (FlValue* child : value->children) {
    fl_value_unref(child);
  }
  for (FlValue* child : value->values) {
    fl_value_unref(child);
  }
  delete value;
}

FlValueType fl_value_get_type(FlValue* value) {
  g_return_val_if_fail(value != nullptr, FL_VALUE_TYPE_NULL);
  return value->type;
}

bool fl_value_equal(FlValue* a, FlValue* b) {
  g_return_val_if_fail(a != nullptr, false);
  g_return_val_if_fail(b != nullptr, false);
  if (a->type != b->type) {
    return false;
  }
  switch (a->type) {
    case FL_VALUE_TYPE_NULL:
      return true;
    case FL_VALUE_TYPE_BOOL:
      return a->b == b->b;
    case FL_VALUE_TYPE_INT:
      return a->i == b->i;
    case FL_VALUE_TYPE_FLOAT:
      return a->f == b->f;
    case FL_VALUE_TYPE_STRING:
      return a->s == b->s;
    case FL_VALUE_TYPE_UINT8_LIST:
      return a->u8 == b->u8;
    case FL_VALUE_TYPE_INT32_LIST:
      return a->i32 == b->i32;
    case FL_VALUE_TYPE_INT64_LIST:
      return a->i64 == b->i64;
    case FL_VALUE_TYPE_FLOAT32_LIST:
      return VectorsEqual(a->f32, b->f32);
    case FL_VALUE_TYPE_FLOAT_LIST:
      return VectorsEqual(a->f64, b->f64);
    case FL_VALUE_TYPE_LIST:
      if (a->children.size() != b->children.size()) {
        return false;
      }
      for (size_t i = 0; i < a->children.size(); i++) {
        if (!fl_value_equal(a->children[i], b->children[i])) {
          return false;
        }
      }
      return true;
    case FL_VALUE_TYPE_MAP:
      if (a->children.size() != b->children.size()) {
        return false;
      }
      for (size_t i = 0; i < a->children.size(); i++) {
        FlValue* other = fl_value_lookup(b, a->children[i]);
        if (other == nullptr || !fl_value_equal(a->values[i], other)) {
          return false;
        }
      }
      return true;
    case FL_VALUE_TYPE_CUSTOM:
      return false;
  }
  return false;
}

void fl_value_append(FlValue* value, FlValue* child) {
  g_return_if_fail(CheckType(value, FL_VALUE_TYPE_LIST));
  g_return_if_fail(child != nullptr);
  value->children.push_back(fl_value_ref(child));
}

void fl_value_append_take(FlValue* value, FlValue* child) {
  g_return_if_fail(CheckType(value, FL_VALUE_TYPE_LIST));
  g_return_if_fail(child != nullptr);
  value->children.push_back(child);
}

void fl_value_set_take(FlValue* value, FlValue* key, FlValue* child_value) {
  g_return_if_fail(CheckType(value, FL_VALUE_TYPE_MAP));
  g_return_if_fail(key != nullptr && child_value != nullptr);
  ssize_t at = FindKey(value, key);
  if (at < 0) {
    value->children.push_back(key);
    value->values.push_back(child_value);
    return;
  }
  // Replace in place so the entry keeps its position. The old pair is
  // released after the new one is stored, in case they share references.
  FlValue* old_key = value->children[at];
  FlValue* old_value = value->values[at];
  value->children[at] = key;
  value->values[at] = child_value;
  fl_value_unref(old_key);
  fl_value_unref(old_value);
}

void fl_value_set(FlValue* value, FlValue* key, FlValue* child_value) {
  g_return_if_fail(key != nullptr && child_value != nullptr);
  fl_value_set_take(value, fl_value_ref(key), fl_value_ref(child_value));
}

void fl_value_set_string(FlValue* value,
                         const gchar* key,
                         FlValue* child_value) {
  g_return_if_fail(key != nullptr && child_value != nullptr);
  fl_value_set_take(value, fl_value_new_string(key), fl_value_ref(child_value));
}

void fl_value_set_string_take(FlValue* value,
                              const gchar* key,
                              FlValue* child_value) {
  g_return_if_fail(key != nullptr && child_value != nullptr);
  fl_value_set_take(value, fl_value_new_string(key), child_value);
}

bool fl_value_get_bool(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_BOOL), false);
  return value->b;
}

int64_t fl_value_get_int(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_INT), 0);
  return value->i;
}

double fl_value_get_float(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_FLOAT), 0.0);
  return value->f;
}

const gchar* fl_value_get_string(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_STRING), nullptr);
  return value->s.c_str();
}

const uint8_t* fl_value_get_uint8_list(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_UINT8_LIST), nullptr);
  return value->u8.data();
}

const int32_t* fl_value_get_int32_list(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_INT32_LIST), nullptr);
  return value->i32.data();
}

const int64_t* fl_value_get_int64_list(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_INT64_LIST), nullptr);
  return value->i64.data();
}

const float* fl_value_get_float32_list(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_FLOAT32_LIST), nullptr);
  return value->f32.data();
}

const double* fl_value_get_float_list(FlValue* value) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_FLOAT_LIST), nullptr);
  return value->f64.data();
}

size_t fl_value_get_length(FlValue* value) {
  g_return_val_if_fail(value != nullptr, 0);
  switch (value->type) {
    case FL_VALUE_TYPE_UINT8_LIST:
      return value->u8.size();
    case FL_VALUE_TYPE_INT32_LIST:
      return value->i32.size();
    case FL_VALUE_TYPE_INT64_LIST:
      return value->i64.size();
    case FL_VALUE_TYPE_FLOAT32_LIST:
      return value->f32.size();
    case FL_VALUE_TYPE_FLOAT_LIST:
      return value->f64.size();
    case FL_VALUE_TYPE_LIST:
    case FL_VALUE_TYPE_MAP:
      return value->children.size();
    default:
      g_critical("fl_value_get_length: value of kind %d has no length",
                 value->type);
      return 0;
  }
}

FlValue* fl_value_get_list_value(FlValue* value, size_t index) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_LIST), nullptr);
  g_return_val_if_fail(index < value->children.size(), nullptr);
  return value->children[index];
}

FlValue* fl_value_get_map_key(FlValue* value, size_t index) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_MAP), nullptr);
  g_return_val_if_fail(index < value->children.size(), nullptr);
  return value->children[index];
}

FlValue* fl_value_get_map_value(FlValue* value, size_t index) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_MAP), nullptr);
  g_return_val_if_fail(index < value->values.size(), nullptr);
  return value->values[index];
}

FlValue* fl_value_lookup(FlValue* value, FlValue* key) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_MAP), nullptr);
  g_return_val_if_fail(key != nullptr, nullptr);
  ssize_t at = FindKey(value, key);
  return at < 0 ? nullptr : value->values[at];
}

FlValue* fl_value_lookup_string(FlValue* value, const gchar* key) {
  g_return_val_if_fail(CheckType(value, FL_VALUE_TYPE_MAP), nullptr);
  g_return_val_if_fail(key != nullptr, nullptr);
  g_autoptr(FlValue) k = fl_value_new_string(key);
  return fl_value_lookup(value, k);
}
