struct WA { float a, b, c, d, e, f, g, h; };
struct WB { WA a, b, c, d, e, f, g, h; };
struct WC { WB a, b, c, d, e, f, g, h; };
struct WD { WC a, b, c, d, e, f, g; };
#define F WD f() {}
#define G F F F F F F F F
#define H G G G G G G G G
#define I H H H H H H H H
#define J I I I I I I I I
J J J J
J J J J
