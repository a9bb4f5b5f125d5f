package android.content;
import java.util.Set;
public interface SharedPreferences {
    Set<String> getStringSet(String key, Set<String> defValues);
    Editor edit();
    interface Editor {
        Editor putStringSet(String key, Set<String> values);
        void apply();
    }
}
