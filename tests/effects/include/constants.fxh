static const float kLightScale = 0.5;
#define LIGHT_CULL None
